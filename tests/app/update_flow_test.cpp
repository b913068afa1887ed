#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>

#include "app/updater_app.h"
#include "app/updater_dialog.h"
#include "engine/serial_port.h"
#include "modal_helpers.h"
#include "settings/app_settings.h"
#include "sim/box_emulator.h"
#include "tests/temp_dir.h"

using quillon::AppSettings;
using quillon::UpdaterDialog;
using quillon::testing::MessageBoxAnswerer;
using quillon::testing::TempDir;

namespace {

const QString kQuestion =
    "To interrupt this operation may cause STB flash crashed, \ndo you want exiting?";

// What the window showed at each status or bar change the worker made, read
// from the real widgets once the call had taken effect.
struct Shown {
    QString text;
    int position;
    bool updateEnabled;
    bool settingEnabled;
    bool barMoved;  // recorded for a bar position, not for a text
};

class ObservedDialog : public quillon::testing::ExitRecording<UpdaterDialog> {
public:
    using ExitRecording::ExitRecording;

    void SetStatusText(const std::string& text) override {
        UpdaterDialog::SetStatusText(text);
        Record(false);
    }
    void SetProgressPos(int pos) override {
        UpdaterDialog::SetProgressPos(pos);
        Record(true);
    }
    std::vector<Shown> Log() const {
        std::lock_guard lock(m_logMutex);
        return m_log;
    }
    QString Status() const {
        std::lock_guard lock(m_logMutex);
        return m_log.empty() ? QString() : m_log.back().text;
    }

private:
    void Record(bool barMoved) {
        Shown shown{findChild<QLabel*>("statusText")->text(),
                    findChild<QProgressBar*>("progress")->value(),
                    findChild<QPushButton*>("updateButton")->isEnabled(),
                    findChild<QAction*>("actionSystemSetting")->isEnabled(), barMoved};
        std::lock_guard lock(m_logMutex);
        m_log.push_back(shown);
    }

    mutable std::mutex m_logMutex;
    std::vector<Shown> m_log;
};

// A copy of the example boot folder, the box emulator on a pty named as COM1,
// and the window on a settings file that says so.
struct Bench {
    // station: more of the settings file, its [STATION] section.
    explicit Bench(quillon::sim::BoxOptions options, const std::string& station = "")
        : box(options) {
        std::filesystem::copy(QUILLON_EXAMPLE_BOOT, temp / "boot");
        std::string error;
        opened = box.OpenPty(&error);
        box.Start();
        temp.Write(quillon::kSettingsFileName,
                   "[BOOT]\nPathToBootFiles=" + temp / "boot/" +
                       "\n[COMMON]\nLastDevice=1\n[PORTS]\nCOM1=" + box.DevicePath() + "\n" +
                       (station.empty() ? "" : "[STATION]\n" + station));
        dialog.emplace(AppSettings(temp / quillon::kSettingsFileName, temp.Folder()));
        dialog->onExit = [this](int code) { exits.push_back(code); };
        dialog->show();
    }
    ~Bench() {
        // The worker calls the observed window's overrides until it returns:
        // the window must outlive it, not only its UpdaterDialog part.
        (void)QTest::qWaitFor([this] { return !dialog->IsUpdateRunning(); }, 60000);
        dialog.reset();
        box.Stop();
    }
    int Lamp() const { return dialog->findChild<QLabel*>("stateLamp")->property("iconId").toInt(); }
    QPushButton* Update() const { return dialog->findChild<QPushButton*>("updateButton"); }
    std::size_t BootFiles() const {
        auto files = std::filesystem::directory_iterator(temp / "boot");
        return std::distance(begin(files), end(files));
    }

    TempDir temp;
    quillon::sim::BoxEmulator box;
    bool opened = false;
    std::vector<int> exits;
    std::optional<ObservedDialog> dialog;
};

// The lamp's pictures in the order they appeared, each change once.
class LampWatch {
public:
    explicit LampWatch(const Bench& bench) : m_bench(bench) {
        Sample();
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Sample(); });
        m_timer.start(10);
    }
    void Sample() {
        const int lamp = m_bench.Lamp();
        if (m_seen.empty() || m_seen.back() != lamp) {
            m_seen.push_back(lamp);
        }
    }
    const std::vector<int>& Seen() const { return m_seen; }

private:
    const Bench& m_bench;
    QTimer m_timer;
    std::vector<int> m_seen;
};

// Where the bar must stand for a status text that carries a count.
std::optional<int> ExpectedPosition(const QString& text) {
    static const QRegularExpression download(R"(^\(step 1/3\) Downloading (\d+)/(\d+)$)");
    static const QRegularExpression erase(
        R"(^\(step 2/3\) Erasing : (\d+)/(\d+)sectors completed$)");
    static const QRegularExpression burn(R"(^\(step 3/3\) Burning : (\d+)/(\d+) bytes completed$)");
    const std::pair<const QRegularExpression*, std::pair<int, int>> bands[] = {
        {&download, {0, 50}}, {&erase, {50, 25}}, {&burn, {75, 25}}};
    for (const auto& [pattern, band] : bands) {
        auto match = pattern->match(text);
        if (match.hasMatch()) {
            double done = match.captured(1).toDouble();
            double total = match.captured(2).toDouble();
            return band.first + static_cast<int>(done / total * band.second);
        }
    }
    return std::nullopt;
}

// The phase a status text belongs to, in the order an update goes through them.
int Phase(const QString& text) {
    const char* const starts[] = {"Waiting connection,Press reset button...",
                                  "Now preparing...",
                                  "Downloading ",
                                  "(step 1/3) Downloading ",
                                  "Download finish. now preparing burning !",
                                  "Erasing...",
                                  "(step 2/3) Erasing : ",
                                  "(step 3/3) Burning : ",
                                  "Burning finished!"};
    for (int i = 0; i < 9; ++i) {
        if (text.startsWith(QLatin1String(starts[i]))) {
            return i;
        }
    }
    return -1;
}

quillon::sim::BoxOptions SlowBox(std::chrono::milliseconds erase) {
    quillon::sim::BoxOptions options;
    // Long enough for the lamp's one-second timer to tick during the update.
    options.eraseTime = erase;
    options.burnTime = std::chrono::milliseconds(1200);
    return options;
}

}  // namespace

class UpdateFlowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wholeUpdateThroughTheWindow();
    void closeDuringAnUpdateAnsweredNoKeepsItRunning();
    void closeDuringAnUpdateAnsweredYesEndsItCleanly();
    void boxDetailsGiveTheReasonsAndWarnings();
    void seriesNotExpectedIsRefusedBeforeTheBox();
    void updateIsRecordedAndTracedAsTheSettingsSay();
};

void UpdateFlowTest::wholeUpdateThroughTheWindow() {
    Bench bench(SlowBox(std::chrono::milliseconds(1200)));
    QVERIFY(bench.opened);
    const std::size_t originals = bench.BootFiles();
    MessageBoxAnswerer answerer;
    LampWatch lamp(bench);
    QTest::mouseClick(bench.Update(), Qt::LeftButton);
    QTest::mouseClick(bench.Update(), Qt::LeftButton);  // ignored: one update at a time
    QTRY_COMPARE_WITH_TIMEOUT(answerer.Seen().size(), std::size_t(1), 60000);
    QTRY_VERIFY(!bench.dialog->IsUpdateRunning());

    const auto& box = answerer.Seen().front();
    QCOMPARE(box.text, QStringLiteral("Successful to update flash! STB has restarted "));
    QCOMPARE(box.caption, QStringLiteral("Success"));
    QCOMPARE(box.icon, QMessageBox::Warning);

    // The end: the bar goes back to 0, then the last text.
    const auto log = bench.dialog->Log();
    QVERIFY(log.size() > 2);
    QCOMPARE(log.back().text, QStringLiteral("Burning finished!"));
    const Shown& reset = log[log.size() - 2];
    QVERIFY(reset.barMoved);
    QCOMPARE(reset.position, 0);
    int phase = 0;
    std::set<int> phases;
    std::set<int> positions;
    for (std::size_t i = 0; i + 2 < log.size(); ++i) {
        const Shown& shown = log[i];
        const int now = Phase(shown.text);
        QVERIFY2(now >= phase, qPrintable("out of order: " + shown.text));
        phase = now;
        phases.insert(now);
        QVERIFY2(!shown.updateEnabled && !shown.settingEnabled,
                 qPrintable(QString("%1 (update %2, setting %3)")
                                .arg(shown.text)
                                .arg(shown.updateEnabled)
                                .arg(shown.settingEnabled)));
        auto expected = ExpectedPosition(shown.text);
        if (shown.barMoved && expected) {
            QCOMPARE(shown.position, *expected);
            positions.insert(shown.position);
        }
    }
    QCOMPARE(phases.size(), std::size_t(8));
    // The last file ends the download band; the last burn report fills the bar.
    QVERIFY(positions.count(50) == 1 && positions.count(100) == 1);

    QVERIFY(bench.Update()->isEnabled());
    // Given back once the worker's thread has returned, a moment after the lock.
    QTRY_VERIFY(bench.dialog->findChild<QAction*>("actionSystemSetting")->isEnabled());
    QCOMPARE(bench.Lamp(), 137);
    lamp.Sample();
    const std::vector<int>& seen = lamp.Seen();
    QVERIFY2(seen.size() >= 4, "the lamp ticked at least once");
    QCOMPARE(seen.front(), 137);
    QCOMPARE(seen.back(), 137);
    for (std::size_t i = 1; i + 1 < seen.size(); ++i) {
        QCOMPARE(seen[i], i % 2 == 1 ? 135 : 136);
    }
    QCOMPARE(bench.BootFiles(), originals);
    QCOMPARE(bench.box.Summary().sessions, 1);

    // After the update has let go of the lock, closing asks nothing.
    bench.dialog->close();
    QCOMPARE(bench.exits, std::vector<int>({0}));
    QCOMPARE(answerer.Seen().size(), std::size_t(1));
}

void UpdateFlowTest::closeDuringAnUpdateAnsweredNoKeepsItRunning() {
    Bench bench(SlowBox(std::chrono::milliseconds(1500)));
    MessageBoxAnswerer answerer([](const MessageBoxAnswerer::Box& box) {
        return box.caption == "Warning" ? QMessageBox::No : QMessageBox::Ok;
    });
    bench.Update()->click();
    QTRY_VERIFY_WITH_TIMEOUT(bench.dialog->Status().startsWith("(step 2/3)"), 30000);
    bench.dialog->close();
    QVERIFY(bench.exits.empty());
    QCOMPARE(answerer.Seen().size(), std::size_t(1));
    QCOMPARE(answerer.Seen().front().text, kQuestion);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.Seen().size(), std::size_t(2), 60000);
    QCOMPARE(answerer.Seen().back().caption, QStringLiteral("Success"));
}

void UpdateFlowTest::closeDuringAnUpdateAnsweredYesEndsItCleanly() {
    quillon::sim::BoxOptions options = SlowBox(std::chrono::milliseconds(30000));
    options.bytesPerSector = 4;  // many short sectors: the box keeps talking while it erases
    Bench bench(options);
    const std::size_t originals = bench.BootFiles();
    MessageBoxAnswerer answerer([](const MessageBoxAnswerer::Box&) { return QMessageBox::Yes; });
    bench.Update()->click();
    QTRY_VERIFY_WITH_TIMEOUT(bench.dialog->Status().startsWith("(step 2/3)"), 30000);
    QVERIFY2(bench.BootFiles() > originals, "the packet files are there while the box erases");
    bench.dialog->findChild<QAction*>("actionExit")->trigger();
    // The exit comes only after the worker has returned.
    QCOMPARE(bench.exits, std::vector<int>({0}));
    QVERIFY(!bench.dialog->IsUpdateRunning());
    QCOMPARE(bench.BootFiles(), originals);
    QCOMPARE(answerer.Seen().size(), std::size_t(1));
    QCOMPARE(answerer.Seen().front().caption, QStringLiteral("Warning"));
    // The port is free again: the worker closed it.
    quillon::SerialPort port;
    QCOMPARE(port.Open(bench.box.DevicePath(), 115200), 1);
}

void UpdateFlowTest::boxDetailsGiveTheReasonsAndWarnings() {
    Bench bench{quillon::sim::BoxOptions()};
    const std::string uploads = bench.temp / "boot/init_uploads.txt";
    std::filesystem::rename(uploads, uploads + ".away");
    MessageBoxAnswerer answerer;
    bench.Update()->click();
    QTRY_COMPARE_WITH_TIMEOUT(answerer.Seen().size(), std::size_t(1), 30000);
    const auto failed = answerer.Seen().back();
    QCOMPARE(failed.text, QStringLiteral("Invalid input file (BOOT)!"));
    QCOMPARE(failed.caption, quillon::UpdaterApp::Title());
    QVERIFY2(failed.details.contains(QString::fromStdString(uploads)), qPrintable(failed.details));

    // An upload that goes empty does not stop the update: its warning waits
    // for the box that ends it, and only that update's box.
    QTRY_VERIFY(!bench.dialog->IsUpdateRunning());
    std::filesystem::rename(uploads + ".away", uploads);
    const std::string upload = bench.temp / "boot/loader.bin";
    std::filesystem::resize_file(upload, 0);
    bench.Update()->click();
    QTRY_COMPARE_WITH_TIMEOUT(answerer.Seen().size(), std::size_t(2), 30000);
    QCOMPARE(answerer.Seen().back().caption, QStringLiteral("Success"));
    QVERIFY2(answerer.Seen().back().details.contains("loader.bin"),
             qPrintable(answerer.Seen().back().details));

    QTRY_VERIFY(!bench.dialog->IsUpdateRunning());
    bench.temp.Write("boot/loader.bin", "loader");
    bench.Update()->click();
    QTRY_COMPARE_WITH_TIMEOUT(answerer.Seen().size(), std::size_t(3), 30000);
    QCOMPARE(answerer.Seen().back().caption, QStringLiteral("Success"));
    // Nothing to warn of: the details say only which series the box got.
    QVERIFY2(QRegularExpression(QStringLiteral("^series [0-9a-f]{64}$"))
                 .match(answerer.Seen().back().details)
                 .hasMatch(),
             qPrintable(answerer.Seen().back().details));
}

// The settings' guard holds for the window as for every face: a series that
// is not the one expected is refused, both named, and the box sees nothing.
void UpdateFlowTest::seriesNotExpectedIsRefusedBeforeTheBox() {
    TempDir dumps;
    quillon::sim::BoxOptions options;
    options.dumpFolder = dumps.Folder();
    Bench bench(options, "ExpectSeries=deadbeefdeadbeef\n");
    const std::size_t originals = bench.BootFiles();
    MessageBoxAnswerer answerer;
    bench.Update()->click();
    QTRY_COMPARE_WITH_TIMEOUT(answerer.Seen().size(), std::size_t(1), 30000);
    const auto refused = answerer.Seen().front();
    QCOMPARE(refused.caption, quillon::UpdaterApp::Title());
    QVERIFY2(refused.details.contains("deadbeefdeadbeef") &&
                 QRegularExpression("[0-9a-f]{64}").match(refused.details).hasMatch(),
             qPrintable(refused.details));
    QTRY_VERIFY(!bench.dialog->IsUpdateRunning());
    QVERIFY(bench.Update()->isEnabled());
    QCOMPARE(bench.BootFiles(), originals);
    QVERIFY(std::filesystem::is_empty(dumps.Folder()));
}

// The settings' log and trace folder take the window's update too.
void UpdateFlowTest::updateIsRecordedAndTracedAsTheSettingsSay() {
    TempDir records;
    Bench bench(quillon::sim::BoxOptions(),
                "Log=" + records / "results.jsonl" + "\nTraceDir=" + records.Folder() + "\n");
    MessageBoxAnswerer answerer;
    bench.Update()->click();
    QTRY_COMPARE_WITH_TIMEOUT(answerer.Seen().size(), std::size_t(1), 60000);
    QCOMPARE(answerer.Seen().front().caption, QStringLiteral("Success"));
    QTRY_VERIFY(!bench.dialog->IsUpdateRunning());
    const std::string log = records.Read("results.jsonl");
    const QRegularExpression record(
        "^\\{\"schema\":1,.*\"verdict\":\"ok\",.*\"trace\":\"[^\"]+\\.trace\"\\}\n$");
    QVERIFY2(record.match(QString::fromStdString(log)).hasMatch(), log.c_str());
    std::size_t traces = 0;
    for (const auto& entry : std::filesystem::directory_iterator(records.Folder())) {
        traces += entry.path().extension() == ".trace" ? 1 : 0;
    }
    QCOMPARE(traces, std::size_t(1));
}

QTEST_MAIN(UpdateFlowTest)
#include "update_flow_test.moc"
