// What a Linux user reads: no text of the program names a Mac service, and Qt's own dialogs and
// menus speak Vietnamese.
#include "common/qtvietnamese.h"
#include "desktop/singleinstance.h"

#include "support/testsupport.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;
using Tarnwick::Testing::artifactDir;
using Tarnwick::Testing::waitUntil;

namespace {

// Every string literal of the program's sources, with where it stands.
QStringList quotedTexts(const QString &root)
{
    static const QRegularExpression literal(uR"re("(?:[^"\\\n]|\\.)*")re"_s);
    QStringList found;
    QDirIterator files(root, {u"*.cpp"_s, u"*.h"_s}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        int number = 0;
        for (const QByteArray &line : file.readAll().split('\n')) {
            ++number;
            const QString text = QString::fromUtf8(line);
            if (text.trimmed().startsWith(u"//"_s))
                continue;
            for (const auto &match : literal.globalMatch(text))
                found.append(path.mid(root.size()) + u':' + QString::number(number) + u' ' +
                             match.captured());
        }
    }
    return found;
}

TEST(LinuxWording, NoTextOfTheProgramNamesAMacService)
{
    const QStringList texts = quotedTexts(QStringLiteral(TARNWICK_SOURCE_DIR) + u"/src"_s);
    ASSERT_GT(texts.size(), 500); // the sources were found
    static const QRegularExpression mac(
        uR"(\bMac\b|Finder|Safari|Keychain|Quick Look|/Volumes/|Tarnwick-Mac)"_s);
    QStringList offending;
    for (const QString &text : texts)
        if (mac.match(text).hasMatch())
            offending.append(text);
    EXPECT_TRUE(offending.isEmpty()) << qPrintable(offending.join(u'\n'));
}

class QtDialogs : public ::testing::Test
{
protected:
    QtDialogs() { Tarnwick::QtVietnameseTranslator::install(*qApp); }
};

TEST_F(QtDialogs, FileChooserSpeaksVietnameseAndShowsItsIcons)
{
    QFileDialog dialog(nullptr, u"Chọn thư mục anh muốn duyệt trong Tarnwick."_s, QDir::homePath());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(QFileDialog::tr("All files (*)"));
    dialog.setLabelText(QFileDialog::Accept, u"Chọn"_s);
    dialog.resize(760, 480);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    QStringList labels;
    for (const QLabel *label : dialog.findChildren<QLabel *>())
        labels.append(label->text());
    EXPECT_TRUE(labels.contains(u"Xem trong:"_s)) << qPrintable(labels.join(u'|'));
    EXPECT_TRUE(labels.contains(u"Loại file:"_s)) << qPrintable(labels.join(u'|'));
    QStringList buttons;
    for (const QPushButton *button : dialog.findChildren<QPushButton *>())
        buttons.append(button->text());
    EXPECT_TRUE(buttons.contains(u"Hủy"_s)) << qPrintable(buttons.join(u'|'));
    for (const QString &english : {u"Look in:"_s, u"Files of type:"_s, u"Cancel"_s})
        EXPECT_FALSE(labels.contains(english) || buttons.contains(english));

    // Every toolbar button draws its picture at a readable size, not squeezed into a dot.
    const QList<QToolButton *> tools = dialog.findChildren<QToolButton *>();
    ASSERT_GE(tools.size(), 5);
    for (QToolButton *tool : tools) {
        if (!tool->isVisible())
            continue;
        EXPECT_FALSE(tool->toolTip().isEmpty());
        const QImage shot = tool->grab().toImage();
        const QColor ground = shot.pixelColor(3, shot.height() / 2);
        QRect drawn;
        for (int y = 2; y < shot.height() - 2; ++y)
            for (int x = 2; x < shot.width() - 2; ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (qAbs(c.red() - ground.red()) + qAbs(c.green() - ground.green()) +
                        qAbs(c.blue() - ground.blue()) >
                    120)
                    drawn |= QRect(x, y, 1, 1);
            }
        EXPECT_GE(drawn.width(), 9) << qPrintable(tool->toolTip());
        EXPECT_GE(drawn.height(), 9) << qPrintable(tool->toolTip());
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    dialog.grab().save(artifactDir() + u"/file-chooser.png"_s);
}

TEST_F(QtDialogs, MessageBoxesAndTextMenusSpeakVietnamese)
{
    QMessageBox box(QMessageBox::Question, u"Tarnwick"_s, u"Tiếp tục?"_s,
                    QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
    QStringList texts;
    for (QAbstractButton *button : box.buttons())
        texts.append(button->text());
    texts.sort();
    EXPECT_EQ(texts, (QStringList{u"&Có"_s, u"&Không"_s, u"Hủy"_s, u"Đồng ý"_s}));

    QLineEdit field;
    field.setText(u"tên"_s);
    std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QStringList entries;
    for (QAction *action : menu->actions())
        if (!action->isSeparator())
            entries.append(action->text().section(u'\t', 0, 0));
    EXPECT_EQ(entries, (QStringList{u"&Hoàn tác"_s, u"&Làm lại"_s, u"Cắ&t"_s, u"&Sao chép"_s,
                                    u"&Dán"_s, u"Xoá"_s, u"Chọn tất cả"_s}));
}

TEST(SingleInstance, ALaterStartHandsItsRequestToTheFirst)
{
    const QString key = u"test|"_s + QString::number(QCoreApplication::applicationPid());
    Tarnwick::SingleInstance first(key);
    ASSERT_TRUE(first.claimOrForward({}));
    QStringList received;
    int requests = 0;
    QObject::connect(&first, &Tarnwick::SingleInstance::requested,
                     [&](const QStringList &request) {
                         received = request;
                         ++requests;
                     });

    Tarnwick::SingleInstance second(key);
    EXPECT_EQ(second.socketName(), first.socketName());
    EXPECT_FALSE(second.claimOrForward({u"/home/an/Tài liệu"_s}));
    ASSERT_TRUE(waitUntil([&] { return requests == 1; }));
    EXPECT_EQ(received, QStringList{u"/home/an/Tài liệu"_s});

    // Other settings or another keychain item make another instance.
    Tarnwick::SingleInstance other(key + u"-demo"_s);
    EXPECT_NE(other.socketName(), first.socketName());
    EXPECT_TRUE(other.claimOrForward({}));

    // Garbage on the socket is no request.
    QLocalSocket stranger;
    stranger.connectToServer(first.socketName());
    ASSERT_TRUE(stranger.waitForConnected(1000));
    stranger.write("{not a list\n");
    stranger.waitForBytesWritten(1000);
    // Read and turned away: the first hangs up.
    ASSERT_TRUE(waitUntil([&] { return stranger.state() == QLocalSocket::UnconnectedState; }));
    EXPECT_EQ(requests, 1);
}

} // namespace
