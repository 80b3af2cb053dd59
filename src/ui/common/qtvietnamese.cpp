#include "common/qtvietnamese.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

struct Entry
{
    const char *source;
    const char16_t *text;
};

// Texts of the file dialog and the models and providers it shows.
constexpr Entry fileDialog[] = {
    {"Look in:", u"Xem trong:"},
    {"Back", u"Quay lại"},
    {"Go back", u"Quay lại"},
    {"Forward", u"Tiến tới"},
    {"Go forward", u"Tiến tới"},
    {"Parent Directory", u"Thư mục cha"},
    {"Go to the parent directory", u"Lên thư mục cha"},
    {"Create New Folder", u"Tạo thư mục mới"},
    {"Create a New Folder", u"Tạo thư mục mới"},
    {"List View", u"Dạng danh sách"},
    {"Change to list view mode", u"Xem dạng danh sách"},
    {"Detail View", u"Dạng chi tiết"},
    {"Change to detail view mode", u"Xem dạng chi tiết"},
    {"Sidebar", u"Thanh bên"},
    {"List of places and bookmarks", u"Các địa điểm và dấu trang"},
    {"Files", u"Các file"},
    {"Files of type:", u"Loại file:"},
    {"File &name:", u"&Tên file:"},
    {"Directory:", u"Thư mục:"},
    {"&Open", u"&Mở"},
    {"&Choose", u"&Chọn"},
    {"&Save", u"&Lưu"},
    {"Open", u"Mở"},
    {"Save As", u"Lưu thành"},
    {"Find Directory", u"Chọn thư mục"},
    {"&Rename", u"Đổi &tên"},
    {"&Delete", u"&Xoá"},
    {"Show &hidden files", u"Hiện file ẩ&n"},
    {"&New Folder", u"Thư mục &mới"},
    {"New Folder", u"Thư mục mới"},
    {"Show ", u"Hiện "},
    {"Recent Places", u"Địa điểm gần đây"},
    {"All files (*)", u"Mọi file (*)"},
    {"All Files (*)", u"Mọi file (*)"},
    {"Directories", u"Thư mục"},
    {"Are you sure you want to delete '%1'?", u"Anh có chắc muốn xoá “%1”?"},
    {"'%1' is write protected.\nDo you want to delete it anyway?",
     u"“%1” đang được bảo vệ chống ghi.\nAnh vẫn muốn xoá?"},
    {"Could not delete directory.", u"Không xoá được thư mục."},
    {"%1 already exists.\nDo you want to replace it?", u"“%1” đã có.\nAnh có muốn thay thế?"},
    {"%1\nFile not found.\nPlease verify the correct file name was given.",
     u"%1\nKhông tìm thấy file.\nHãy kiểm tra lại tên file."},
    {"%1\nDirectory not found.\nPlease verify the correct directory name was given.",
     u"%1\nKhông tìm thấy thư mục.\nHãy kiểm tra lại tên thư mục."},
    {"Remove", u"Gỡ bỏ"},
    {"Name", u"Tên"},
    {"Size", u"Dung lượng"},
    {"Type", u"Loại"},
    {"Kind", u"Loại"},
    {"Date Modified", u"Ngày sửa"},
    {"My Computer", u"Máy tính"},
    {"Computer", u"Máy tính"},
    {"Drive", u"Ổ đĩa"},
    {"Folder", u"Thư mục"},
    {"File Folder", u"Thư mục"},
    {"%1 File", u"File %1"},
    {"File", u"File"},
    {"Alias", u"Lối tắt"},
    {"Shortcut", u"Lối tắt"},
    {"Unknown", u"Không rõ"},
    {"Invalid filename", u"Tên file không hợp lệ"},
};

// Standard buttons (the platform theme's texts) and the message box's own.
constexpr Entry buttons[] = {
    {"OK", u"Đồng ý"},
    {"&OK", u"Đồng ý"},
    {"Save", u"Lưu"},
    {"&Save", u"&Lưu"},
    {"Save All", u"Lưu tất cả"},
    {"Open", u"Mở"},
    {"&Yes", u"&Có"},
    {"Yes to &All", u"Có với &tất cả"},
    {"&No", u"&Không"},
    {"N&o to All", u"Không với tất &cả"},
    {"Abort", u"Huỷ bỏ"},
    {"Retry", u"Thử lại"},
    {"Ignore", u"Bỏ qua"},
    {"Close", u"Đóng"},
    {"&Close", u"Đó&ng"},
    {"Cancel", u"Hủy"},
    {"&Cancel", u"&Hủy"},
    {"Discard", u"Bỏ đi"},
    {"Don't Save", u"Không lưu"},
    {"Close without Saving", u"Đóng mà không lưu"},
    {"Help", u"Trợ giúp"},
    {"Apply", u"Áp dụng"},
    {"Reset", u"Đặt lại"},
    {"Restore Defaults", u"Khôi phục mặc định"},
    {"Show Details...", u"Xem chi tiết…"},
    {"Hide Details...", u"Ẩn chi tiết…"},
};

// The edit menu of line edits and selectable labels.
constexpr Entry editing[] = {
    {"&Undo", u"&Hoàn tác"},
    {"&Redo", u"&Làm lại"},
    {"Cu&t", u"Cắ&t"},
    {"&Copy", u"&Sao chép"},
    {"Copy &Link Location", u"Sao chép địa chỉ &liên kết"},
    {"&Paste", u"&Dán"},
    {"Delete", u"Xoá"},
    {"Select All", u"Chọn tất cả"},
    {"&Select All", u"&Chọn tất cả"},
};

using Table = QHash<QByteArray, QHash<QByteArray, QString>>;

Table buildTable()
{
    Table table;
    auto add = [&](std::initializer_list<const char *> contexts, const auto &entries) {
        for (const char *context : contexts)
            for (const Entry &entry : entries)
                table[context].insert(entry.source, QString::fromUtf16(entry.text));
    };
    add({"QFileDialog", "QFileSystemModel", "QAbstractFileIconProvider", "QFileIconProvider",
         "QFileDialogPrivate", "QSidebar"},
        fileDialog);
    add({"QPlatformTheme", "QGnomeTheme", "QMessageBox", "QDialogButtonBox", "QErrorMessage",
         "QInputDialog"},
        buttons);
    add({"QLineEdit", "QWidgetTextControl", "QTextControl"}, editing);
    return table;
}

const Table &table()
{
    static const Table built = buildTable();
    return built;
}

} // namespace

QtVietnameseTranslator::QtVietnameseTranslator(QObject *parent)
    : QTranslator(parent)
{
}

QString QtVietnameseTranslator::translate(const char *context, const char *sourceText,
                                          const char *, int) const
{
    if (!context || !sourceText)
        return {};
    const auto texts = table().constFind(QByteArray::fromRawData(context, qstrlen(context)));
    if (texts == table().constEnd())
        return {};
    return texts->value(QByteArray::fromRawData(sourceText, qstrlen(sourceText)));
}

void QtVietnameseTranslator::install(QCoreApplication &app)
{
    static QPointer<QtVietnameseTranslator> installed;
    if (installed)
        return;
    installed = new QtVietnameseTranslator(&app);
    QCoreApplication::installTranslator(installed);
}

} // namespace Tarnwick
