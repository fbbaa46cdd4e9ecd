#include "doctorcommand.h"

#include "boardinventory.h"
#include "boardlibrary.h"
#include "boardstatus.h"
#include "statusreason.h"
#include "usbstuff.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

enum class Verdict { Ok, Warn, Fail };

class Checklist final
{
public:
    explicit Checklist(QTextStream &out)
        : m_out(out)
    { }

    void line(Verdict verdict, const QString &check, const QString &finding,
              const QString &fix = {})
    {
        static const char *const words[] {"ok  ", "warn", "FAIL"};
        m_out << words[int(verdict)] << "  " << check << ": " << finding;
        if (!fix.isEmpty())
            m_out << " -- fix: " << fix;
        m_out << '\n';
        m_failed = m_failed || verdict == Verdict::Fail;
    }
    bool failed() const { return m_failed; }

private:
    QTextStream &m_out;
    bool m_failed = false;
};

const QStringList ruleFolders = {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d",
                                 "/lib/udev/rules.d", "/usr/local/lib/udev/rules.d"};

QString ruleLine(const QString &vendor, const QString &product)
{
    return QStringLiteral("SUBSYSTEM==\"usb\", ATTR{idVendor}==\"%1\", ATTR{idProduct}==\"%2\", "
                          "TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"")
            .arg(vendor, product);
}

// The rules file that names this identity, if any.
QString ruleFileFor(const QString &vendor, const QString &product)
{
    const QRegularExpression matches(
            QStringLiteral("ATTRS?\\{idVendor\\}==\"%1\".*ATTRS?\\{idProduct\\}==\"%2\"")
                    .arg(vendor, product),
            QRegularExpression::CaseInsensitiveOption);
    for (const QString &folder : ruleFolders) {
        const QDir dir(folder);
        for (const QString &name : dir.entryList({"*.rules"}, QDir::Files | QDir::Readable)) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &text : file.readAll().split('\n')) {
                if (!text.trimmed().startsWith('#')
                    && matches.match(QString::fromUtf8(text)).hasMatch())
                    return file.fileName();
            }
        }
    }
    return {};
}

// The processes that have the board's device node open, by name and number.
QStringList holders(const BoardListEntry &board)
{
    const QString node = QStringLiteral("/dev/bus/usb/%1/%2")
                                 .arg(board.bus, 3, 10, QLatin1Char('0'))
                                 .arg(board.address, 3, 10, QLatin1Char('0'));
    QStringList found;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        pid.toInt(&number);
        if (!number)
            continue;
        const QDir fds(proc.filePath(pid + "/fd"));
        for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            if (fd.symLinkTarget() == node) {
                QFile comm(proc.filePath(pid + "/comm"));
                const QString name = comm.open(QIODevice::ReadOnly)
                        ? QString::fromLocal8Bit(comm.readAll().trimmed())
                        : QStringLiteral("?");
                found << QStringLiteral("%1 (pid %2)").arg(name, pid);
                break;
            }
        }
    }
    return found;
}

QString kernelDriverOf(const BoardListEntry &board)
{
    return QFileInfo(QStringLiteral("/sys/bus/usb/devices/%1:1.0/driver")
                             .arg(QString::fromLatin1(board.port)))
            .symLinkTarget()
            .section(u'/', -1);
}

void checkBoard(Checklist &list, const BoardListEntry &board)
{
    const QString check = QStringLiteral("board at %1").arg(QString::fromLatin1(board.port));
    const QString seen = QStringLiteral("%1, %2").arg(identityText(board.vendorId, board.productId),
                                                      board.firmwareRunning ? "firmware running"
                                                                            : "loader only");
    if (board.kernelDriver) {
        const QString driver = kernelDriverOf(board);
        list.line(Verdict::Warn, check, seen + ", interface taken by the kernel driver " + driver,
                  QStringLiteral("the programs detach it when they open the board; to free it "
                                 "now: echo -n %1:1.0 | sudo tee /sys/bus/usb/drivers/%2/unbind")
                          .arg(QString::fromLatin1(board.port), driver));
        return;
    }
    switch (BoardStatus(board.access)) {
    case BoardStatus::Ok:
        list.line(Verdict::Ok, check, seen + ", can be opened");
        return;
    case BoardStatus::NoAccess:
        list.line(Verdict::Fail, check, seen + ", no permission to open it",
                  "install the udev rule (above), join the plugdev group (sudo adduser $USER "
                  "plugdev, then log in again) and plug the board in again");
        return;
    case BoardStatus::BoardBusy: {
        const QStringList by = holders(board);
        list.line(Verdict::Fail, check,
                  seen + ", held by another program"
                          + (by.isEmpty() ? QString() : QStringLiteral(": ") + by.join(", ")),
                  "close that program");
        return;
    }
    default:
        list.line(Verdict::Fail, check, seen + ", " + accessText(board), "plug the board in again");
    }
}

} // namespace

int doctorCommand(USBStuff &usb, const QString &libraryPath, QTextStream &out)
{
    Checklist list(out);
    const bool simulated = qgetenv("TX4410_BOARD") == "sim";
    std::int16_t configStatus = 0;
    BoardSettings settings {};
    try {
        settings = readSettings(usb, configStatus);
    } catch (const BoardLibraryError &error) {
        list.line(Verdict::Fail, "board library", error.message(),
                  "install the package again, or rebuild");
        return 1;
    }
    list.line(Verdict::Ok, "board library", libraryPath);

    const QString file = settings.file[0] ? QString::fromLocal8Bit(settings.file)
                                          : QStringLiteral("no file, the defaults");
    const QString loader = identityText(settings.loaderVendorId, settings.loaderProductId);
    const QString firmware = identityText(settings.firmwareVendorId, settings.firmwareProductId);
    if (configStatus != 0) {
        list.line(Verdict::Fail, "configuration", QString::fromLocal8Bit(settings.problem),
                  "correct the line or variable named (see the README's board.conf)");
    } else {
        list.line(Verdict::Ok, "configuration",
                  QStringLiteral("%1: loader %2, firmware %3, come-back %4 s%5")
                          .arg(file, loader, firmware)
                          .arg(settings.comeBackMilliseconds / 1000.0)
                          .arg(settings.port[0] ? QStringLiteral(", port ")
                                               + QString::fromLatin1(settings.port)
                                                : QString()));
    }

    const QString image = QFileInfo(USBStuff::firmwarePath()).canonicalFilePath();
    const QString shownImage = image.isEmpty() ? USBStuff::firmwarePath() : image;
    const std::int16_t imageStatus = checkFirmware(usb, USBStuff::firmwarePath());
    if (imageStatus == 0)
        list.line(Verdict::Ok, "firmware image", shownImage);
    else
        list.line(Verdict::Fail, "firmware image", shownImage + ": " + statusReason(imageStatus));

    for (const auto &[role, vendor, product] :
         {std::tuple {"loader", loader.left(4), loader.mid(5)},
          std::tuple {"firmware", firmware.left(4), firmware.mid(5)}}) {
        const QString rules = ruleFileFor(vendor, product);
        const QString check = QStringLiteral("udev rule for the %1 identity %2:%3")
                                      .arg(QLatin1String(role), vendor, product);
        if (!rules.isEmpty())
            list.line(Verdict::Ok, check, rules);
        else
            list.line(simulated ? Verdict::Warn : Verdict::Fail, check, "none installed",
                      "add this line to /etc/udev/rules.d/70-tx4410.rules, then sudo udevadm "
                      "control --reload and plug the board in again: "
                              + ruleLine(vendor, product));
    }

    const BoardInventory inventory = listBoards(usb);
    if (inventory.status != 0 && inventory.status != 26)
        list.line(Verdict::Fail, "boards", statusReason(inventory.status, usb.statusDetail()));
    else if (inventory.boards.empty() && inventory.status == 0)
        list.line(Verdict::Fail, "boards",
                  QStringLiteral("none on the bus shows %1 or %2").arg(loader, firmware),
                  QStringLiteral("connect the board; if lsusb shows it under another identity, "
                                 "set loader-id and firmware-id in %1")
                          .arg(settings.file[0] ? file : QStringLiteral("board.conf")));
    for (const BoardListEntry &board : inventory.boards)
        checkBoard(list, board);
    if (settings.port[0] && inventory.status == 0) {
        const bool there = std::ranges::any_of(inventory.boards, [&](const BoardListEntry &board) {
            return qstrcmp(board.port, settings.port) == 0;
        });
        if (!there)
            list.line(Verdict::Fail, "chosen port", QString::fromLatin1(settings.port),
                      "choose a port that 'tx4410-cli list' shows");
    }
    return list.failed() ? 1 : 0;
}
