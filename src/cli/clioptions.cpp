#include "clioptions.h"

#include "records/displaytext.h"

#include <QHash>

using namespace Qt::StringLiterals;

namespace Tarnwick::Cli {

namespace {

// How many arguments each command takes: at least, at most (-1: any number).
struct Arity
{
    int least;
    int most;
};

std::optional<Arity> arityOf(const QString &command)
{
    static const QHash<QString, Arity> known{
        {u"login"_s, {0, 0}}, {u"logout"_s, {0, 0}}, {u"whoami"_s, {0, 0}},
        {u"ls"_s, {0, 1}},    {u"mkdir"_s, {1, 1}},  {u"put"_s, {2, -1}},
        {u"get"_s, {2, -1}},  {u"queue"_s, {0, 0}},  {u"resume"_s, {0, 0}},
        {u"trash"_s, {1, 1}}};
    const auto found = known.constFind(command);
    if (found == known.cend())
        return std::nullopt;
    return *found;
}

} // namespace

Options Options::parse(const QStringList &arguments)
{
    Options options;
    bool optionsEnd = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (!optionsEnd && arg == u"--"_s) {
            optionsEnd = true;
        } else if (!optionsEnd && (arg == u"-h"_s || arg == u"--help"_s)) {
            options.help = true;
        } else if (!optionsEnd && arg == u"--version"_s) {
            options.version = true;
        } else if (!optionsEnd && arg == u"--json"_s) {
            options.json = true;
        } else if (!optionsEnd && arg == u"--no-browser"_s) {
            options.noBrowser = true;
        } else if (!optionsEnd && arg == u"--config"_s) {
            if (i + 1 >= arguments.size())
                throw UsageError{u"Thiếu tên file cấu hình sau --config."_s};
            options.configFile = arguments[++i];
        } else if (!optionsEnd && arg == u"-l"_s) {
            options.longList = true;
        } else if (!optionsEnd && arg == u"--shared"_s) {
            options.shared = true;
        } else if (!optionsEnd && arg == u"--drive"_s) {
            if (i + 1 >= arguments.size())
                throw UsageError{u"Thiếu tên bộ nhớ dùng chung sau --drive."_s};
            options.sharedDrive = arguments[++i];
        } else if (!optionsEnd && arg.startsWith(u'-') && arg.size() > 1) {
            throw UsageError{u"Không có tuỳ chọn "_s + DisplayText::shown(arg) + u'.'};
        } else if (options.command.isEmpty()) {
            options.command = arg;
        } else {
            options.arguments.append(arg);
        }
    }
    if (options.help || options.version)
        return options;
    if (options.command.isEmpty())
        throw UsageError{u"Thiếu lệnh."_s};
    const std::optional<Arity> arity = arityOf(options.command);
    if (!arity)
        throw UsageError{u"Không có lệnh "_s + DisplayText::shown(options.command) + u'.'};
    const int count = int(options.arguments.size());
    if (count < arity->least || (arity->most >= 0 && count > arity->most))
        throw UsageError{u"Số tham số của lệnh "_s + options.command + u" không đúng."_s};
    if ((options.noBrowser || options.configFile) && options.command != u"login"_s)
        throw UsageError{u"--no-browser và --config chỉ dùng với login."_s};
    const bool listing = options.command == u"ls"_s;
    if (!listing && (options.longList || options.shared || options.sharedDrive))
        throw UsageError{u"-l, --shared và --drive chỉ dùng với ls."_s};
    if (int(options.shared) + int(options.sharedDrive.has_value()) + int(count > 0) > 1)
        throw UsageError{u"ls nhận một trong: ĐƯỜNG_DẪN_DRIVE, --shared, --drive TÊN."_s};
    return options;
}

QString helpText()
{
    return u"Cách dùng: tarnwick-cli [--json] LỆNH [THAM SỐ…]\n"
           "\n"
           "Truyền file giữa máy này và Google Drive từ dòng lệnh. Dùng chung tài khoản, cấu hình\n"
           "đăng nhập và hàng đợi đã lưu với cửa sổ Tarnwick.\n"
           "\n"
           "Lệnh:\n"
           "  login [--no-browser] [--config FILE]\n"
           "                         Đăng nhập Google: in liên kết đăng nhập, mở trình duyệt\n"
           "                         (trừ khi có --no-browser) và chờ trình duyệt quay về;\n"
           "                         --config dùng file cấu hình Google của nhà phát triển\n"
           "  logout                 Đăng xuất\n"
           "  whoami                 Tên, e-mail và dung lượng của tài khoản đang kết nối\n"
           "  ls [ĐƯỜNG_DẪN_DRIVE | --shared | --drive TÊN] [-l]\n"
           "                         Liệt kê một thư mục trên Drive (mặc định: Drive của tôi),\n"
           "                         mục Được chia sẻ, hoặc một Bộ nhớ dùng chung; -l: chi tiết\n"
           "  mkdir ĐƯỜNG_DẪN_DRIVE  Tạo thư mục trên Drive\n"
           "  put FILE… THƯ_MỤC_DRIVE\n"
           "                         Tải file và thư mục lên Drive\n"
           "  get ĐƯỜNG_DẪN_DRIVE|LIÊN_KẾT|ID… THƯ_MỤC_MÁY\n"
           "                         Tải file và thư mục từ Drive về máy\n"
           "  queue                  Các tác vụ chưa xong đang được lưu\n"
           "  resume                 Tiếp tục các tác vụ đang được lưu\n"
           "  trash ĐƯỜNG_DẪN_DRIVE  Chuyển một mục vào thùng rác của Drive\n"
           "\n"
           "ĐƯỜNG_DẪN_DRIVE bắt đầu từ Drive của tôi, ví dụ /Ảnh/2024.\n"
           "\n"
           "Tuỳ chọn:\n"
           "  --json                 Mỗi sự kiện là một dòng JSON\n"
           "  -h, --help             Hiện trợ giúp này\n"
           "  --version              Hiện phiên bản\n"
           "\n"
           "Ctrl+C tạm dừng và lưu hàng đợi; \"tarnwick-cli resume\" chạy tiếp từ chỗ đã dừng.\n"
           "Nhấn Ctrl+C lần nữa để thoát ngay.\n"
           "\n"
           "Mã thoát: 0 xong hết, 1 có file lỗi, 2 sai cách dùng, 3 chưa đăng nhập,\n"
           "4 không có kết nối, 130 đã tạm dừng bằng Ctrl+C.\n"_s;
}

} // namespace Tarnwick::Cli
