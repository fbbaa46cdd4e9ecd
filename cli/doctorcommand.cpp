#include "doctorcommand.h"

#include "boardinventory.h"
#include "boardlibrary.h"
#include "boardstatus.h"
#include "statusreason.h"
#include "statustexts.h"
#include "udevrules.h"
#include "usbstuff.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Verdict { Ok, Warn, Fail };

// Each check as a line for a person, or as an object for a script; the run fails when any
// check did.
class Checklist final
{
public:
    Checklist(QTextStream &out, bool json)
        : m_out(out)
        , m_json(json)
    { }

    // `id` stays the same from release to release: scripts key on it.
    void line(const QString &id, Verdict verdict, const QString &check, const QString &finding,
              const QString &fix = {})
    {
        static const char *const words[] {"ok  ", "warn", "FAIL"};
        static const char *const statuses[] {"ok", "warn", "fail"};
        m_failed = m_failed || verdict == Verdict::Fail;
        if (m_json) {
            m_checks.append(QJsonObject {{"id", id},
                                         {"status", QLatin1String(statuses[int(verdict)])},
                                         {"check", check},
                                         {"detail", finding},
                                         {"fix", fix}});
            return;
        }
        m_out << words[int(verdict)] << "  " << check << ": " << finding;
        if (!fix.isEmpty())
            m_out << " -- fix: " << fix;
        m_out << '\n';
    }
    // The exit status, after the JSON when that was asked for.
    int finish()
    {
        if (m_json)
            m_out << QJsonDocument(m_checks).toJson(QJsonDocument::Indented);
        return m_failed ? 1 : 0;
    }

private:
    QTextStream &m_out;
    bool m_json;
    QJsonArray m_checks;
    bool m_failed = false;
};

// A status's fix as doctor gives it: without the brackets that send the reader to doctor.
QString fixInDoctor(int status)
{
    const StatusTexts::Row *row = StatusTexts::find(status);
    if (row == nullptr || *row->fix == '\0')
        return QStringLiteral("plug the board in again");
    QString fix = QString::fromUtf8(row->fix);
    const QString mention = QStringLiteral(" ('tx4410-cli doctor'");
    for (qsizetype at = fix.indexOf(mention); at >= 0; at = fix.indexOf(mention, at))
        fix.remove(at, fix.indexOf(u')', at) + 1 - at);
    return fix;
}

const QString boardConfPage = QStringLiteral(
        "see \"The board configuration\" in real-board.md (/usr/share/doc/tx4410/docs/)");

// The folder of the device nodes: libusb lists boards without it but can open none.
void checkDeviceNodes(Checklist &list, bool simulated)
{
    const QString nodes = QStringLiteral("/dev/bus/usb");
    const QFileInfo folder(nodes);
    const QString id = QStringLiteral("usb-nodes");
    const QString check = QStringLiteral("USB device nodes");
    const Verdict missing = simulated ? Verdict::Warn : Verdict::Fail;
    const QString fix = simulated ? QString()
                                  : QStringLiteral("a container needs it passed through (docker "
                                                   "run --device /dev/bus/usb); elsewhere the "
                                                   "kernel and udev make it");
    if (!folder.exists()) {
        list.line(id, missing, check,
                  nodes + " does not exist"
                          + (simulated ? ": the simulated board needs none" : QString()),
                  fix);
    } else if (!folder.isDir()) {
        list.line(id, missing, check, nodes + " is not a folder", fix);
    } else if (::access(QFile::encodeName(nodes).constData(), R_OK | X_OK) != 0) {
        struct stat mode
        { };
        ::stat(QFile::encodeName(nodes).constData(), &mode);
        list.line(id, missing, check,
                  QStringLiteral("%1 is closed to this user (mode %2)")
                          .arg(nodes)
                          .arg(mode.st_mode & 07777, 4, 8, QLatin1Char('0')),
                  simulated ? QString()
                            : QStringLiteral("sudo chmod 755 %1 (udev makes it so)").arg(nodes));
    } else {
        list.line(id, Verdict::Ok, check, nodes);
    }
}

// The identity's rule as udev reads the folders: a file in /etc of the packaged name replaces
// the packaged one, and a rule after the seat file gets no uaccess.
void checkUdevRule(Checklist &list, const char *role, const QString &vendor, const QString &product,
                   bool simulated)
{
    const QString id = QStringLiteral("udev-%1").arg(QLatin1String(role));
    const QString check = QStringLiteral("udev rule for the %1 identity %2:%3")
                                  .arg(QLatin1String(role), vendor, product);
    const QStringList files = UdevRules::effective(UdevRules::folders());
    const QString found = UdevRules::fileFor(files, vendor, product);
    const QString local = UdevRules::folders().constFirst() + u'/' + UdevRules::localFile;
    const QString addIt = QStringLiteral("add this line to %1 (a file of its own: the packaged "
                                         "rule stays in force), then sudo udevadm control "
                                         "--reload and plug the board in again: %2")
                                  .arg(local, UdevRules::ruleLine(vendor, product));
    if (found.isEmpty()) {
        list.line(id, simulated ? Verdict::Warn : Verdict::Fail, check, "none installed", addIt);
        return;
    }
    if (!UdevRules::beforeSeat(found)) {
        list.line(
                id, Verdict::Warn, check,
                found
                        + QStringLiteral(", read after %1: plugdev only, no access for the seat's "
                                         "user")
                                  .arg(QLatin1String(UdevRules::seatFile)),
                QStringLiteral("move the line to %1").arg(local));
        return;
    }
    list.line(id, Verdict::Ok, check, found);
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
    const QString id = QStringLiteral("board:") + QString::fromLatin1(board.port);
    const QString seen = QStringLiteral("%1, %2").arg(identityText(board.vendorId, board.productId),
                                                      board.firmwareRunning ? "firmware running"
                                                                            : "loader only");
    if (board.kernelDriver) {
        const QString driver = kernelDriverOf(board);
        list.line(id, Verdict::Warn, check,
                  seen + ", interface taken by the kernel driver " + driver,
                  QStringLiteral("the programs detach it when they open the board; to free it "
                                 "now: echo -n %1:1.0 | sudo tee /sys/bus/usb/drivers/%2/unbind")
                          .arg(QString::fromLatin1(board.port), driver));
        return;
    }
    switch (BoardStatus(board.access)) {
    case BoardStatus::Ok:
        list.line(id, Verdict::Ok, check, seen + ", can be opened");
        return;
    case BoardStatus::NoAccess:
        list.line(id, Verdict::Fail, check, seen + ", no permission to open it",
                  "install the udev rule (above), join the plugdev group (sudo adduser $USER "
                  "plugdev, then log in again) and plug the board in again");
        return;
    case BoardStatus::BoardBusy: {
        const QStringList by = holdersOf(board);
        list.line(id, Verdict::Fail, check,
                  seen + ", held by another program"
                          + (by.isEmpty() ? QString() : QStringLiteral(": ") + by.join(", ")),
                  "close that program");
        return;
    }
    default:
        list.line(id, Verdict::Fail, check, seen + ", " + accessText(board),
                  fixInDoctor(board.access));
    }
}

} // namespace

int doctorCommand(USBStuff &usb, const QString &libraryPath, bool json, QTextStream &out)
{
    Checklist list(out, json);
    const bool simulated = qgetenv("TX4410_BOARD") == "sim";
    std::int16_t configStatus = 0;
    BoardSettings settings {};
    try {
        settings = readSettings(usb, configStatus);
    } catch (const BoardLibraryError &error) {
        list.line("library", Verdict::Fail, "board library", error.message(),
                  "install the package again, or rebuild");
        return list.finish();
    }
    list.line("library", Verdict::Ok, "board library", libraryPath);

    const QString file = settings.file[0] ? QString::fromLocal8Bit(settings.file)
                                          : QStringLiteral("no file, the defaults");
    const QString loader = identityText(settings.loaderVendorId, settings.loaderProductId);
    const QString firmware = identityText(settings.firmwareVendorId, settings.firmwareProductId);
    if (configStatus != 0) {
        list.line("configuration", Verdict::Fail, "configuration",
                  QString::fromLocal8Bit(settings.problem),
                  "correct the line or variable named; " + boardConfPage);
    } else {
        list.line("configuration", Verdict::Ok, "configuration",
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
    const StatusTexts::Row *imageRow = StatusTexts::find(imageStatus);
    if (imageStatus == 0)
        list.line("firmware-image", Verdict::Ok, "firmware image", shownImage);
    else if (imageRow == nullptr)
        list.line("firmware-image", Verdict::Fail, "firmware image",
                  shownImage + ": " + statusReason(imageStatus));
    else
        list.line("firmware-image", Verdict::Fail, "firmware image",
                  QStringLiteral("%1: %2 [status %3, %4]")
                          .arg(shownImage, QString::fromUtf8(imageRow->meaning))
                          .arg(imageStatus)
                          .arg(QLatin1String(imageRow->name)),
                  fixInDoctor(imageStatus));

    checkDeviceNodes(list, simulated);
    for (const auto &[role, vendor, product] :
         {std::tuple {"loader", loader.left(4), loader.mid(5)},
          std::tuple {"firmware", firmware.left(4), firmware.mid(5)}})
        checkUdevRule(list, role, vendor, product, simulated);

    const BoardInventory inventory = listBoards(usb);
    // A malformed configuration is said above; on the simulated board the same status is its
    // variables'.
    const bool knobsInvalid = simulated && inventory.status == 26 && configStatus == 0;
    // A malformed configuration keeps the simulated board from being asked at all.
    if (simulated && configStatus == 0) {
        if (knobsInvalid)
            list.line("simulated-board", Verdict::Fail, "simulated board", usb.statusDetail(),
                      "correct the TX4410_SIM_ variable named (see simulated-board.md)");
        else
            list.line("simulated-board", Verdict::Ok, "simulated board",
                      "TX4410_BOARD=sim, its TX4410_SIM_ variables taken");
    }
    if (inventory.status != 0 && inventory.status != 26) {
        const StatusTexts::Row *row = StatusTexts::find(inventory.status);
        list.line("boards", Verdict::Fail, "boards",
                  row == nullptr ? statusReason(inventory.status, usb.statusDetail())
                                 : QStringLiteral("%1 [status %2, %3]")
                                           .arg(statusFinding(inventory.status, usb.statusDetail()))
                                           .arg(inventory.status)
                                           .arg(QLatin1String(row->name)),
                  fixInDoctor(inventory.status));
    } else if (inventory.boards.empty() && inventory.status == 0)
        list.line("boards", Verdict::Fail, "boards",
                  QStringLiteral("none on the bus shows %1 or %2").arg(loader, firmware),
                  QStringLiteral("connect the board; if lsusb shows it under another identity, "
                                 "set loader-id and firmware-id in %1 (%2)")
                          .arg(settings.file[0] ? file : QStringLiteral("board.conf"),
                               boardConfPage));
    // --board (TX4410_BOARD_PORT) narrows the boards to the one chosen.
    const QLatin1String chosen(settings.port);
    for (const BoardListEntry &board : inventory.boards) {
        if (chosen.isEmpty() || QLatin1String(board.port) == chosen)
            checkBoard(list, board);
    }
    if (!chosen.isEmpty() && inventory.status == 0) {
        const bool there = std::ranges::any_of(inventory.boards, [&](const BoardListEntry &board) {
            return QLatin1String(board.port) == chosen;
        });
        if (!there)
            list.line("chosen-port", Verdict::Fail, "chosen port", chosen,
                      "choose a port that 'tx4410-cli list' shows");
    }
    return list.finish();
}
