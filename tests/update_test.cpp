#include "app/AppDelegate.h"
#include "app/Document.h"
#include "app/TMWindow.h"
#include "app/UpdateCheck.h"
#include "support/Harness.h"
#include "ui_Main.h"
#include "update/UpdateList.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <gtest/gtest.h>

namespace quillfen {
namespace {

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;
using Status = UpdateListStatus;

const std::string kBase = "https://downloads.quillfen.example/";

const auto dict = [](const QByteArray& body) { return "<plist version=\"1.0\"><dict>" + body + "</dict></plist>"; };
const QByteArray kInfo = dict("<key>CFBundleShortVersionString</key><string>2.1</string>");

const auto offer = [](const std::string& v) { return "An update to this app to version " + v + " is available."; };

struct Entry {
    std::string app, version, url = kBase + "q.dmg";
};

QByteArray plistOf(const std::vector<Entry>& entries)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array>";
    for (const Entry& e : entries)
        xml += "<dict><key>AppName</key><string>" + e.app + "</string><key>Version</key><string>" + e.version +
               "</string><key>URL</key><string>" + e.url + "</string></dict>";
    return QByteArray::fromStdString(xml + "</array></plist>\n");
}

// A binary list of `depth` arrays, each holding the next `width` times; with `cycle` the innermost holds the outermost.
QByteArray nestedBinaryList(quint32 depth, quint8 width = 1, bool cycle = false)
{
    const auto bigEndian = [](auto value) {
        value = qToBigEndian(value);
        return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
    };
    QByteArray objects = "bplist00", offsets;
    for (quint32 i = 1; i <= depth; ++i) {
        offsets += bigEndian(quint32(objects.size()));
        if (i == depth && !cycle)
            objects += '\xA0';
        else
            objects += "\xAF\x10" + QByteArray(1, char(width)) + bigEndian(i < depth ? i : 0u).repeated(width);
    }
    return objects + offsets + QByteArray(6, '\0') + "\x04\x04" + bigEndian(quint64(depth)) + bigEndian(quint64(0)) +
           bigEndian(quint64(objects.size()));
}

// [{AppName: Quillfen, Version: 3.0, URL: <base>q-3.0.dmg}], written by another program's binary writer.
const QByteArray kBinaryList = QByteArray::fromHex(
    "62706c6973743030a101d3020304050607574170704e616d655355524c5756657273696f6e585175696c6c66656e5f102c68747470733a2f"
    "2f646f776e6c6f6164732e7175696c6c66656e2e6578616d706c652f712d332e302e646d6753332e30080a11191d252e5d00000000000001"
    "01000000000000000800000000000000000000000000000061");

// One text member of each alert, choice or offer.
template <typename T> std::vector<std::string> texts(const std::vector<T>& items, std::string T::*member)
{
    std::vector<std::string> out(items.size());
    std::ranges::transform(items, out.begin(), member);
    return out;
}

// The bundle information the build renders, a Mac bundle's Info.plist, names the project's version.
TEST(BundleInformation, TheBuiltOneGivesTheProjectsVersion)
{
    QFile file(u":/Info.plist"_s);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray info = file.readAll();
    const BundleVersion bundle = readShortVersion(std::string_view(info.constData(), std::size_t(info.size())));
    EXPECT_EQ(bundle.status, BundleVersionStatus::Found);
    EXPECT_EQ(bundle.version, QUILLFEN_VERSION);
}

TEST(UpdateResponse, PassesOnlySuccessWithAPlainOrXmlTextType)
{
    for (std::string_view type : {"text/plain; charset=UTF-8", " TEXT/XML ;charset=x", "text/xml"})
        EXPECT_TRUE(isAcceptedUpdateResponse(200, mimeTypeOf(type))) << type;
    EXPECT_TRUE(isAcceptedUpdateResponse(299, "text/plain"));
    for (std::string_view type : {"application/xml", "text/xml-external", "; text/xml", ""})
        EXPECT_FALSE(isAcceptedUpdateResponse(200, mimeTypeOf(type))) << type;
    for (int status : {199, 300, 404})
        EXPECT_FALSE(isAcceptedUpdateResponse(status, "text/xml")) << status;
}

// The odd lists; the server cases below cover the common ones. Lists are refused before decoding when over 8 containers
// deep as the decoder reads element names (up to a NUL byte), or expanding to more objects than any list of ours.
TEST(UpdateList, OffersThisAppsOtherVersionsInOrder)
{
    const auto nestedXml = [](qsizetype depth, const QByteArray& open = "<array>") {
        return "<plist>" + open.repeated(depth) + QByteArray("</array>").repeated(depth) + "</plist>";
    };
    using namespace std::string_view_literals;
    const QByteArray nul("<array\0>"sv.data(), 8), nulAndMore("<array\0 x=\"/>\">"sv.data(), 15);
    // Odd elements are skipped, but a Quillfen element still marks the check as made.
    const QByteArray odd = "<plist><array><string>x</string><dict><key>AppName</key><string>Quillfen</string><key>"
                           "Version</key><integer>3</integer><key>URL</key><string>u</string></dict></array></plist>";
    // The list, then its status, whether an element names this app, and the versions offered.
    const std::tuple<QByteArray, Status, bool, std::vector<std::string>> cases[] = {
        {plistOf({{"Quillfen", "2.2"}, {"Other", "9"}, {"Quillfen", "3.0"}}), Status::Read, true, {"3.0", "2.2"}},
        // Only newer versions, by dotted numbers; a pre-release comes before its release, text is no version.
        {plistOf({{"Quillfen", "2.9"},
                  {"Quillfen", "2.10"},
                  {"Quillfen", "2.1.0"},
                  {"Quillfen", "2.0.9"},
                  {"Quillfen", "2.1b3"},
                  {"Quillfen", "2.2b1"},
                  {"Quillfen", "02.1.1"},
                  {"Quillfen", "beta"},
                  {"Quillfen", "2..3"},
                  {"Quillfen", "100000000000000000000000"}}),
         Status::Read,
         true,
         {"100000000000000000000000", "2.10", "2.9", "2.2b1", "02.1.1"}},
        {plistOf({{"quillfen", "3.0"}}), Status::Read, false, {}},
        {odd, Status::Read, true, {}},
        {"<plist><dict><key>AppName</key><string>Quillfen</string></dict></plist>", Status::Unreadable, false, {}},
        {plistOf({{"Quillfen", "3.0"}}).left(60), Status::Unreadable, false, {}},
        {kBinaryList.left(100), Status::Unreadable, false, {}},
        {nestedXml(8), Status::Read, false, {}},
        {nestedXml(9), Status::OutOfBounds, false, {}},
        {nestedXml(100'000), Status::OutOfBounds, false, {}},
        {nestedXml(8, nul), Status::Read, false, {}},
        {nestedXml(9, nul), Status::OutOfBounds, false, {}},
        {nestedXml(100'000, nul), Status::OutOfBounds, false, {}},
        {nestedXml(9, nulAndMore), Status::OutOfBounds, false, {}},
        {nestedXml(9, "<array\tx='1'\n>"), Status::OutOfBounds, false, {}},
        {"<plist><array><!-- " + nestedXml(9) + " --></array></plist>", Status::Empty, false, {}},
        {"<plist><array>" + QByteArray("<true/>").repeated(100'000) + "</array></plist>",
         Status::OutOfBounds,
         false,
         {}},
        {QByteArray(kMaxUpdateListBytes, ' ') + plistOf({{"Quillfen", "3.0"}}), Status::OutOfBounds, false, {}},
        {nestedBinaryList(8), Status::Read, false, {}},
        {nestedBinaryList(9), Status::OutOfBounds, false, {}},
        {nestedBinaryList(90'000), Status::OutOfBounds, false, {}},
        {nestedBinaryList(3, 1, true), Status::OutOfBounds, false, {}},
        {nestedBinaryList(4, 100), Status::OutOfBounds, false, {}},
        {nestedBinaryList(8, 4), Status::Read, false, {}},
    };
    for (const auto& [bytes, status, listsThisApp, offered] : cases) {
        const UpdateList got = readUpdateList(bytes.toStdString(), "2.1");
        EXPECT_EQ(std::tuple(got.status, got.listsThisApp, texts(got.offers, &UpdateOffer::version)),
                  std::tuple(status, listsThisApp, offered))
            << bytes.left(200).toStdString();
    }
}

TEST(DownloadAddress, MustLieBelowTheDownloadBase)
{
    const std::string h = "https://downloads.quillfen.example";
    // Each base, the addresses offered below it, then those refused.
    const std::tuple<std::string, std::vector<std::string>, std::vector<std::string>> cases[] = {
        {kBase,
         {h + "/Quillfen-3.0.dmg", "HTTPS://Downloads.Quillfen.Example/q.dmg", h + ":443/q.dmg"},
         {"https://attacker.example/?" + kBase, h + "@attacker.example/q.dmg", h + ".attacker.example/q.dmg",
          "https://user@downloads.quillfen.example/q.dmg", h + ":8443/q.dmg", "http://downloads.quillfen.example/q.dmg",
          "//downloads.quillfen.example/q.dmg", h, ""}},
        {kBase + "quillfen/", {h + "/quillfen/q.dmg"}, {h + "/quillfen/../evil.dmg", h + "/other/q.dmg"}},
        {kBase + "quillfen", {h + "/quillfen/q.dmg"}, {h + "/quillfen-evil/q.dmg"}},
    };
    for (const auto& [base, offered, refused] : cases)
        for (const auto& [addresses, within] : {std::pair(offered, true), std::pair(refused, false)})
            for (const std::string& address : addresses)
                EXPECT_EQ(downloadAddressWithin(address, QUrl(QString::fromStdString(base))).has_value(), within)
                    << address;
}

// The listed version is outside text, shown as typed; Ignore comes first and is the default.
TEST(UpdateAlert, ShowsTheListedVersionLiterallyWithIgnoreFirst)
{
    const std::string text = offer("<a href=https://attacker.example/>3.0</a> <b>now</b>");
    const auto box = makeChoiceBox(Choice{AlertStyle::Informational, text, "i", {"Ignore", "Download"}}, nullptr);
    for (const QLabel* label : box->findChildren<QLabel*>())
        EXPECT_TRUE(label->text().isEmpty() || label->textFormat() == Qt::PlainText) << qPrintable(label->text());
    EXPECT_EQ(box->text().toStdString(), text);
    EXPECT_EQ(box->defaultButton()->text() + u"|"_s + box->buttons().at(1)->text(), u"Ignore|Download"_s);
}

// A self-signed certificate for 127.0.0.1 and 127.0.0.2, made once per run; only the tests' requests trust it.
const std::pair<QSslCertificate, QSslKey>& testCertificate()
{
    static const auto made = [] {
        QTemporaryDir dir;
        QProcess openssl;
        openssl.setWorkingDirectory(dir.path());
        openssl.startCommand(u"openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "
                             "/CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1,IP:127.0.0.2 -keyout k -out c"_s);
        openssl.waitForFinished(30000);
        QFile key(dir.filePath(u"k"_s));
        key.open(QIODevice::ReadOnly); // if it cannot, the key stays null
        return std::pair(QSslCertificate::fromPath(dir.filePath(u"c"_s)).value(0), QSslKey(&key, QSsl::Ec));
    }();
    return made;
}

const QByteArray kXml = "200 OK\r\nContent-Type: text/xml";

// An HTTP answer: status and header lines, the body, and its declared length (its own when -2, none when -1).
QByteArray answer(const QByteArray& head, const QByteArray& body = {}, qsizetype length = -2)
{
    const QByteArray declared = QByteArray::number(length == -2 ? body.size() : length);
    return "HTTP/1.1 " + head + "\r\nConnection: close\r\n" +
           (length == -1 ? "" : "Content-Length: " + declared + "\r\n") + "\r\n" + body;
}

const auto xml = [](const QByteArray& body) { return answer(kXml, body); };

// Answers every request alike and hangs up, or with `trickle` sends a space every 50 ms, below the transfer timeout.
class LocalHttpsServer : public QSslServer {
public:
    LocalHttpsServer(const QByteArray& reply, const QString& host, bool trickle = false)
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(testCertificate().first);
        tls.setPrivateKey(testCertificate().second);
        setSslConfiguration(tls);
        connect(this, &QTcpServer::pendingConnectionAvailable, this, [this, reply, trickle] {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, reply, trickle] {
                    // The request may come in pieces; a GET ends with its head.
                    socket->setProperty("head", socket->property("head").toByteArray() + socket->readAll());
                    if (!socket->property("head").toByteArray().endsWith("\r\n\r\n"))
                        return;
                    ++requests;
                    socket->write(reply);
                    if (!trickle)
                        return socket->disconnectFromHost();
                    auto* drip = new QTimer(socket);
                    connect(drip, &QTimer::timeout, socket, [socket] { socket->write(" "); });
                    drip->start(50);
                });
        });
        listen(QHostAddress(host));
        url = QUrl(u"https://%1:%2/updates.plist"_s.arg(serverAddress().toString()).arg(serverPort()));
    }

    QUrl url;
    int requests = 0;
};

// Answers the first update alert Ignore and the second Download, recording each.
struct ScriptedChoices final : ChoicePresenter {
    std::size_t runModal(const Choice& choice) override
    {
        shown.push_back(choice);
        // "Download" for version 3.1 only.
        return choice.messageText.find(" 3.1 ") != std::string::npos ? 1 : 0;
    }
    std::vector<Choice> shown;
};

// The update check against a local server and bundle information in a file; requests trust only the test certificate.
TEST(UpdateCheck, AnswersOfTheServerAndTheBundleDecideWhatTheUserSees)
{
    ASSERT_FALSE(testCertificate().first.isNull()) << "openssl could not make a test certificate";
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates({testCertificate().first});
    QTemporaryDir dir;
    std::vector<std::string> opened;
    const auto open = [&opened](const QUrl& url) { opened.push_back(url.toString().toStdString()); };
    const QUrl base(QString::fromStdString(kBase));

    const QByteArray list = plistOf({{"Quillfen", "3.0", kBase + "Quillfen-3.0.dmg"}});
    const QByteArray huge = QByteArray(200 * 1024, ' ') + list;
    const std::string q31 = kBase + "q-3.1.dmg";
    const std::string noVersion = "Can't check for updates:\nNo app version string found.";
    const std::string running = "You are currently running Quillfen version 2.1.\nPlease choose whether to download "
                                "this update now in your default browser.";
    LocalHttpsServer elsewhere(xml(list), u"127.0.0.2"_s);
    struct Case {
        const char* name;
        QByteArray reply;
        bool checked;                                      // the update item is ticked
        std::vector<std::string> offers = {}, alerts = {}; // the texts of each
        QByteArray info = kInfo;                           // the bundle information
        QString host = u"127.0.0.1"_s;
        bool trickle = false;
    };
    const Case cases[] = {
        {"redirect off origin", answer("302 Found\r\nLocation: " + elsewhere.url.toEncoded()), false},
        {"certificate for another host", xml(list), false, {}, {}, kInfo, u"127.0.0.3"_s},
        {"404 with HTML", answer("404 Not Found\r\nContent-Type: text/html", "<html>gone</html>"), false},
        {"application/xml", answer("200 OK\r\nContent-Type: application/xml", list), false},
        {"Text/Plain", answer("200 OK\r\nContent-Type: Text/Plain; charset=utf-8", list), true, {offer("3.0")}},
        {"not a plist", xml("hello <world"), false, {}, {"Error in update Property List."}},
        {"empty array", xml(plistOf({})), false, {}, {"Update Property List has no entries."}},
        {"another app only", xml(plistOf({{"Other", "3.0"}})), false},
        {"same version", xml(plistOf({{"Quillfen", "2.1"}})), true},
        {"older version", xml(plistOf({{"Quillfen", "2.0"}})), true},
        {"two: the newest only", xml(plistOf({{"Quillfen", "3.0"}, {"Quillfen", "3.1", q31}})), true, {offer("3.1")}},
        {"the newest's address refused",
         xml(plistOf({{"Quillfen", "3.1", "https://attacker.example/"}, {"Quillfen", "3.0"}})),
         true,
         {offer("3.0")}},
        {"attack address", xml(plistOf({{"Quillfen", "3.0", "https://attacker.example/?" + kBase}})), true},
        {"binary plist", xml(kBinaryList), true, {offer("3.0")}},
        {"deeply nested binary plist", xml(nestedBinaryList(5'000)), false},
        {"truncated body", answer(kXml, list, list.size() + 10), false},
        {"huge declared body", xml(huge), false},
        {"huge body until close", answer(kXml, huge, -1), false},
        {"trickle past the deadline", answer(kXml, {}, 1000), false, {}, {}, kInfo, u"127.0.0.1"_s, true},
        {"no bundle information", xml(list), false, {}, {}, ""},
        {"no dictionary", xml(list), false, {}, {}, "<plist><array><string>2.1</string></array></plist>"},
        {"empty dictionary", xml(list), false, {}, {}, dict("")},
        {"no version", xml(list), false, {}, {noVersion}, dict("<key>CFBundleName</key><string>Quillfen</string>")},
        {"real", xml(list), false, {}, {noVersion}, dict("<key>CFBundleShortVersionString</key><real>2.1</real>")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LocalHttpsServer server(c.reply, c.host, c.trickle);
        QFile info(dir.filePath(u"Info.plist"_s));
        ASSERT_TRUE(info.open(QIODevice::WriteOnly) && info.write(c.info) == c.info.size());
        info.close();
        testing::Harness h;
        ScriptedChoices choices;
        AppDelegate delegate(
            ControllerServices{h.alerts, h.defaults,
                               CheckServices{h.mainQueue, h.clock, h.tools.runner(), h.volumes, h.version}},
            "tester", h.tools.runner(),
            UpdateServices{choices, open, server.url, base, info.fileName(), tls, 10s, c.trickle ? 600ms : 10s, 65536});
        TMWindow& window = delegate.newDocument().window();
        delegate.updateCheck().start();
        EXPECT_EQ(delegate.findChildren<QNetworkReply*>().size(), c.info == kInfo ? 1 : 0);
        EXPECT_TRUE(std::ranges::all_of(delegate.findChildren<QNetworkReply*>(), &QNetworkReply::isRunning))
            << "the request runs on the event loop, not before the check returns";
        // Until the reply is handled and deleted, then once more for what it queued for the main thread.
        for (const QDeadlineTimer deadline(10000);
             !delegate.findChildren<QNetworkReply*>().isEmpty() && !deadline.hasExpired();) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        ASSERT_TRUE(delegate.findChildren<QNetworkReply*>().isEmpty()) << "the request ended";
        h.mainQueue.runPending();

        EXPECT_EQ(server.requests, c.info == kInfo && c.host == u"127.0.0.1"_s ? 1 : 0);
        EXPECT_EQ(texts(h.alerts.alerts(), &Alert::informativeText), c.alerts);
        EXPECT_EQ(texts(choices.shown, &Choice::messageText), c.offers);
        for (const Choice& choice : choices.shown)
            EXPECT_EQ(std::tuple(choice.style, choice.informativeText, choice.buttons),
                      std::tuple(AlertStyle::Informational, running, std::vector<std::string>{"Ignore", "Download"}));
        // The Help menu's update item, in this window and a new one.
        for (TMWindow* shown : {&window, &delegate.newDocument().window()}) {
            const QAction* item = shown->form().helpMenu->actions().back();
            EXPECT_EQ(item->text() + (item->isChecked() ? u" ✓"_s : u""_s),
                      c.checked ? u"Checked for update ✓"_s : u"Update not checked"_s);
        }
    }
    EXPECT_EQ(elsewhere.requests, 0);
    EXPECT_EQ(opened, std::vector<std::string>{q31});
}

} // namespace
} // namespace quillfen
