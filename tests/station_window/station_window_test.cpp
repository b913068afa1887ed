// The station window against emulated boxes on pseudo-terminals: what its
// tiles, header and results show, and how it ends.
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "platform/digest.h"
#include "sim/box_emulator.h"
#include "station/run_setup.h"
#include "station/slot_labels.h"
#include "station_window/results_model.h"
#include "station_window/slot_tile.h"
#include "station_window/station_window.h"
#include "tests/app/modal_helpers.h"
#include "tests/cleanup_checks.h"
#include "tests/temp_dir.h"

using quillon::SlotFace;
using quillon::SlotLook;
using quillon::SlotTile;
using quillon::sim::BoxEmulator;
using quillon::sim::BoxOptions;
using quillon::testing::TempDir;

namespace {

constexpr int kLong = 30000;  // ms: a whole update of the example folder takes well under 1 s

const QString kQuestion =
    "To interrupt this operation may cause STB flash crashed, \ndo you want exiting?";

class RecordingWindow : public quillon::StationWindow {
public:
    using StationWindow::StationWindow;
    std::vector<int> exits;

protected:
    void ExitProgram(int code) override { exits.push_back(code); }
};

// A copy of the example boot folder, boxes of the emulator on
// pseudo-terminals, and the window flashing them box after box.
struct Bench {
    explicit Bench(const std::vector<BoxOptions>& each) {
        std::filesystem::copy(QUILLON_EXAMPLE_BOOT, temp / "boot");
        for (const BoxOptions& options : each) {
            devices.push_back(AddBox(options).DevicePath());
        }
    }
    ~Bench() {
        window.reset();  // joins the slots before the boxes go
    }
    BoxEmulator& AddBox(const BoxOptions& options, bool start = true) {
        auto box = std::make_unique<BoxEmulator>(options);
        opened = box->OpenPty(nullptr) && opened;
        if (start) {
            box->Start();
        }
        boxes.push_back(std::move(box));
        return *boxes.back();
    }
    bool Open(const std::string& resetCommand = {}) {
        quillon::RunOptions options;
        options.station = true;
        options.resetCommand = resetCommand;
        options.devices = devices;
        options.bootFolder = temp / "boot";
        options.settingsPath = temp / "quillon.INI";
        options.log = temp / "results.jsonl";
        quillon::RunSetup setup;
        std::string error;
        if (quillon::MakeRunSetup(options, setup, error) != 0) {
            qWarning("%s", error.c_str());
            return false;
        }
        window.emplace(std::move(setup));
        window->show();
        return opened && window->Begin();
    }

    const SlotFace& Face(int slot) const {
        return window->findChild<SlotTile*>(QStringLiteral("slot%1").arg(slot))->Face();
    }
    // The tile's count of "ok" or "failed" boxes.
    int Count(int slot, const char* verdict) const {
        QRegularExpression pattern(QStringLiteral("%1 (\\d+)").arg(verdict));
        return pattern.match(Face(slot).counts).captured(1).toInt();
    }
    QString Label(const char* name) const { return window->findChild<QLabel*>(name)->text(); }
    // As its tile's menu does: pauses the slot, or resumes it.
    void TogglePause(int slot) {
        std::unique_ptr<QMenu> menu(window->SlotMenu(slot));
        menu->findChild<QAction*>(QStringLiteral("pauseSlot"))->trigger();
    }
    QPushButton* StartStop() const {
        return window->findChild<QPushButton*>(QStringLiteral("startStopButton"));
    }
    const quillon::ResultsModel& Results() const {
        return *window->findChild<quillon::ResultsModel*>();
    }
    bool PacketFilesLeft() const { return quillon::testing::PacketFilesIn(temp / "boot"); }

    TempDir temp;
    bool opened = true;
    std::vector<std::unique_ptr<BoxEmulator>> boxes;
    std::vector<std::string> devices;
    std::optional<RecordingWindow> window;
};

// The SHA-256 of the first count records a box received, as it dumped them.
std::string ReceivedSeries(const TempDir& dumps, std::uint32_t count) {
    quillon::Sha256 digest;
    for (std::uint32_t i = 1; i <= count; ++i) {
        std::string record = dumps.Read(QString::asprintf("record-%04u", i).toStdString());
        digest.Update(record.data(), record.size());
    }
    return digest.HexDigest();
}

// The question a close asked, as it was shown, and the answer given.
struct Asked {
    QString text;
    QString caption;
    QString informative;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// meanwhile: what happens while the question is open, before the answer.
void AnswerNextQuestion(Asked& asked, QMessageBox::StandardButton answer,
                        std::function<void()> meanwhile) {
    quillon::testing::WhenModal<QMessageBox>([&asked, answer, meanwhile](QMessageBox* box) {
        asked = {box->text(), box->windowTitle(), box->informativeText(), box->icon(),
                 box->standardButtons()};
        meanwhile();
        box->button(answer)->click();
    });
}

}  // namespace

class StationWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void slotsSucceedWithTheExactSeries();
    void oneRejectsAndTheOthersGoOn();
    void adapterThatGoesAndComesBack();
    void pauseAndResume();
    void pauseNeverEndsTheSlot();
    void labelsTellSlotsApart();
    void heldSlotIsReleasedByItsButtonOrAScan();
    void closing_data();
    void closing();
    void resultsKeepTheNewest();
};

void StationWindowTest::slotsSucceedWithTheExactSeries() {
    TempDir dumps[3];
    std::vector<BoxOptions> boxes(3);
    for (int i = 0; i < 3; ++i) {
        boxes[i].dumpFolder = dumps[i].Folder();
    }
    Bench bench(boxes);
    QVERIFY(bench.Open());
    for (int i = 0; i < 3; ++i) {
        QTRY_VERIFY_WITH_TIMEOUT(bench.Count(i, "ok") >= 1, kLong);
    }
    bench.window->ToggleAllPaused();  // no more boxes: the dumps stay those of the first
    for (int i = 0; i < 3; ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(bench.Face(i).look, SlotLook::Paused, kLong);
    }
    const QString series = bench.Label("seriesLabel");
    const QRegularExpression identity(QStringLiteral("Series ([0-9a-f]{16}): no series expected"));
    QVERIFY2(identity.match(series).hasMatch(), qPrintable(series));
    const auto& records = bench.Results().Records();
    QVERIFY(records.size() >= 3);
    const std::string full = records.front().series;
    QCOMPARE(QString::fromStdString(full.substr(0, 16)), identity.match(series).captured(1));
    // The files counted in the header's boot folder line, before the execute command.
    const QRegularExpression files(QStringLiteral("\\((\\d+) packet files"));
    const std::uint32_t count = files.match(bench.Label("bootFolderLabel")).captured(1).toUInt();
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(ReceivedSeries(dumps[i], count), full);
        QCOMPARE(bench.Face(i).last, QStringLiteral("Last box: ok"));
    }
    for (const quillon::BoxRecord& record : records) {
        QCOMPARE(record.verdict, std::string("ok"));
        QCOMPARE(record.series, full);
    }
    QVERIFY2(
        bench.Label("yieldLabel").contains(QStringLiteral("Yield 100.0 %   First pass 100.0 %")),
        qPrintable(bench.Label("yieldLabel")));

    // The list saved as CSV: a header row, then the records, newest first.
    std::string error;
    QVERIFY2(bench.window->SaveCsv(bench.temp / "results.csv", error), error.c_str());
    const QStringList rows =
        QString::fromStdString(bench.temp.Read("results.csv")).split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), static_cast<int>(bench.Results().Records().size()) + 1);
    QVERIFY(rows[0].startsWith("start,end,station,slot,device,verdict"));
    QVERIFY(rows[1].startsWith(QString::fromStdString(bench.Results().Records().back().start)));
}

void StationWindowTest::oneRejectsAndTheOthersGoOn() {
    std::vector<BoxOptions> boxes(3);
    boxes[1].rejectRecord = 3;
    Bench bench(boxes);
    QVERIFY(bench.Open());
    // The rejecting box's slot fails and waits for its next box under the
    // red of its verdict; the others go on with theirs.
    QTRY_VERIFY_WITH_TIMEOUT(bench.Count(1, "failed") >= 1, kLong);
    QTRY_VERIFY_WITH_TIMEOUT(bench.Count(0, "ok") >= 2 && bench.Count(2, "ok") >= 2, kLong);
    QTRY_VERIFY_WITH_TIMEOUT(bench.Face(1).look == SlotLook::Failed &&
                                 bench.Face(1).status.startsWith("Waiting connection"),
                             kLong);
    QCOMPARE(bench.Count(1, "ok"), 0);
    QCOMPARE(bench.Count(0, "failed") + bench.Count(2, "failed"), 0);
    int failures = 0;
    for (const quillon::BoxRecord& record : bench.Results().Records()) {
        if (record.verdict == "failed") {
            QCOMPARE(record.device, bench.devices[1]);
            QCOMPARE(bench.Face(1).last,
                     "Last box: failed, " + QString::fromStdString(record.caption));
            // Why, in words, naming the record: not the caption's stock text.
            QCOMPARE(bench.Face(1).reason, QString::fromStdString(record.reason));
            QVERIFY(record.reason.find("record 0003") != std::string::npos);
            ++failures;
        }
    }
    QVERIFY(failures >= 1);
}

void StationWindowTest::adapterThatGoesAndComesBack() {
    Bench bench({});
    const std::string adapter = bench.temp / "ttyUSB0";
    std::filesystem::create_symlink(bench.AddBox({}).DevicePath(), adapter);
    bench.devices = {adapter};
    QVERIFY(bench.Open());
    QTRY_VERIFY_WITH_TIMEOUT(bench.Count(0, "ok") >= 1, kLong);

    // Unplugged: the device goes, and the line with it.
    std::filesystem::remove(adapter);
    bench.boxes.front()->Stop();
    QTRY_COMPARE_WITH_TIMEOUT(bench.Face(0).word, QStringLiteral("ADAPTER GONE"), kLong);
    QCOMPARE(bench.Face(0).look, SlotLook::LineFault);
    const int ok = bench.Count(0, "ok");

    // Plugged in again, as a new device under the same name.
    std::filesystem::create_symlink(bench.AddBox({}).DevicePath(), adapter);
    QTRY_VERIFY_WITH_TIMEOUT(bench.Count(0, "ok") > ok, kLong);
    QVERIFY(bench.Face(0).look != SlotLook::LineFault);
}

void StationWindowTest::pauseAndResume() {
    Bench bench(std::vector<BoxOptions>(2));
    QVERIFY(bench.Open());
    QTRY_VERIFY_WITH_TIMEOUT(bench.Count(0, "ok") >= 1 && bench.Count(1, "ok") >= 1, kLong);

    // Space: every slot ends the box it has, then takes no other.
    QTest::keyClick(&*bench.window, Qt::Key_Space);
    QCOMPARE(bench.StartStop()->text(), QStringLiteral("Start (Space)"));
    for (int i = 0; i < 2; ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(bench.Face(i).word, QStringLiteral("PAUSED"), kLong);
    }
    const int paused[] = {bench.Count(0, "ok"), bench.Count(1, "ok")};
    QTest::qWait(1500);  // several boxes' time
    QCOMPARE(bench.Count(0, "ok"), paused[0]);
    QCOMPARE(bench.Count(1, "ok"), paused[1]);

    // Space again, then one slot paused alone from its menu.
    QTest::keyClick(&*bench.window, Qt::Key_Space);
    QCOMPARE(bench.StartStop()->text(), QStringLiteral("Stop (Space)"));
    bench.TogglePause(0);
    QTRY_COMPARE_WITH_TIMEOUT(bench.Face(0).word, QStringLiteral("PAUSED"), kLong);
    const int alone = bench.Count(0, "ok");
    QTRY_VERIFY_WITH_TIMEOUT(bench.Count(1, "ok") > paused[1] + 1, kLong);
    QCOMPARE(bench.Count(0, "ok"), alone);
    std::unique_ptr<QMenu> menu(bench.window->SlotMenu(0));
    QCOMPARE(menu->findChild<QAction*>(QStringLiteral("pauseSlot"))->text(),
             QStringLiteral("&Resume this slot"));
    bench.TogglePause(0);
    QTRY_VERIFY_WITH_TIMEOUT(bench.Count(0, "ok") > alone, kLong);
}

// A pause that meets a box answering lets the box end or never takes it: it
// never cancels the box, nor ends the slot.
void StationWindowTest::pauseNeverEndsTheSlot() {
    Bench bench(std::vector<BoxOptions>(1));
    QVERIFY(bench.Open());
    for (int i = 0; i < 200; ++i) {
        bench.TogglePause(0);  // paused
        QTest::qWait(i % 7);
        bench.TogglePause(0);  // resumed
        QTest::qWait(i % 5);
        QVERIFY2(bench.Face(0).word != QStringLiteral("STOPPED"), qPrintable(QString::number(i)));
    }
    const int before = bench.Count(0, "ok");
    QTRY_VERIFY_WITH_TIMEOUT(bench.Count(0, "ok") > before, kLong);
    for (const quillon::BoxRecord& record : bench.Results().Records()) {
        QCOMPARE(record.verdict, std::string("ok"));
    }
}

// Each slot reads as itself: its label given, else its name, else what its
// device's path has that the others' do not; a long one loses its middle,
// never its start or its end.
void StationWindowTest::labelsTellSlotsApart() {
    using Parts = std::vector<std::string>;
    const std::pair<Parts, Parts> paths[] = {
        {{"/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0",
          "/dev/serial/by-id/usb-FTDI_FT232R_C3D4-if00-port0"},
         {"A1B2", "C3D4"}},
        {{"/dev/ttyUSB0", "/dev/ttyUSB12"}, {"ttyUSB0", "ttyUSB12"}},
        {{"/dev/ttyUSB0"}, {"ttyUSB0"}},
    };
    for (const auto& [devices, labels] : paths) {
        QCOMPARE(quillon::DistinctParts(devices), labels);
    }
    TempDir temp;
    temp.Write("quillon.INI",
               "[PORTS]\nCOM1=/dev/null\nCOM2=/dev/zero\n"
               "[SLOTS]\nCOM1=A01 | left front\nCOM2=right back\n");
    quillon::RunOptions options;
    options.ports = {"1-2"};
    options.settingsPath = temp / "quillon.INI";
    quillon::RunSetup setup;
    std::string error;
    QCOMPARE(quillon::MakeRunSetup(options, setup, error), 0);
    QCOMPARE(setup.config.slots[0].label, std::string("A01"));
    QCOMPARE(setup.config.slots[0].name, std::string("left front"));
    QCOMPARE(setup.config.slots[1].label, std::string("right back"));

    SlotTile tile(QStringLiteral("Rack A position 01, the left front corner of bench 7"),
                  QStringLiteral("bay"), QStringLiteral("/dev/ttyUSB0"));
    tile.resize(tile.minimumSizeHint());
    const QString shown = tile.ShownLabel();
    QVERIFY2(shown.startsWith(QStringLiteral("Rack A")) && shown.endsWith(QStringLiteral("7")) &&
                 shown.contains(QChar(0x2026)),
             qPrintable(shown));
    SlotTile whole(QStringLiteral("Rack D pos 08"), QStringLiteral("bay"),
                   QStringLiteral("/dev/x"));
    whole.resize(240, 190);  // a tile of 32 on a 1920x1080 screen
    QCOMPARE(whole.ShownLabel(), QStringLiteral("Rack D pos 08"));
}

// A station that powers its boxes holds a slot whose box has ended until a
// new one is in: the tile's button says so, and so does a scan of the
// slot's label and then of the new box, which names the box in its record
// with the operator of the moment.
void StationWindowTest::heldSlotIsReleasedByItsButtonOrAScan() {
    Bench bench(std::vector<BoxOptions>(1));
    QVERIFY(bench.Open("true"));
    auto* release = bench.window->findChild<QPushButton*>(QStringLiteral("releaseButton"));
    QTRY_VERIFY_WITH_TIMEOUT(bench.Face(0).held && release->isVisible(), kLong);
    QCOMPARE(bench.Face(0).word, QStringLiteral("DONE"));
    QTest::qWait(1000);  // a box's time: held, none starts
    QCOMPARE(bench.Count(0, "ok"), 1);

    release->click();
    QTRY_VERIFY_WITH_TIMEOUT(bench.Count(0, "ok") == 2 && bench.Face(0).held, kLong);

    auto* operatorField = bench.window->findChild<QLineEdit*>(QStringLiteral("operatorField"));
    operatorField->setText(QStringLiteral("bo"));
    Q_EMIT operatorField->editingFinished();
    auto* tile = bench.window->findChild<SlotTile*>(QStringLiteral("slot0"));
    bench.window->TakeScan(tile->Label());
    QTRY_VERIFY_WITH_TIMEOUT(bench.Face(0).awaitingScan, kLong);
    bench.window->TakeScan(QStringLiteral("SN-0042"));
    QTRY_VERIFY_WITH_TIMEOUT(bench.Count(0, "ok") == 3, kLong);
    const quillon::BoxRecord& newest = bench.Results().RecordAt(0);
    QCOMPARE(newest.box, std::string("SN-0042"));
    QCOMPARE(newest.operatorName, std::string("bo"));
    QVERIFY(!bench.Face(0).awaitingScan);
}

void StationWindowTest::closing_data() {
    QTest::addColumn<bool>("burning");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("signal");  // a termination request while the question is open
    QTest::addColumn<int>("exit");
    QTest::newRow("burning, answered No") << true << int(QMessageBox::No) << 0 << -1;
    QTest::newRow("burning, answered Yes") << true << int(QMessageBox::Yes) << 0 << 0;
    QTest::newRow("burning, terminated while asked") << true << int(QMessageBox::Yes) << 15 << 143;
    QTest::newRow("every slot waits") << false << int(QMessageBox::NoButton) << 0 << 0;
}

void StationWindowTest::closing() {
    QFETCH(bool, burning);
    QFETCH(int, answer);
    QFETCH(int, signal);
    QFETCH(int, exit);
    Bench bench({});
    BoxOptions slow;
    slow.burnTime = std::chrono::milliseconds(8000);
    // A box that burns for a while, or one that never answers.
    bench.devices = {bench.AddBox(slow, burning).DevicePath()};
    QVERIFY(bench.Open());
    if (burning) {
        QTRY_COMPARE_WITH_TIMEOUT(bench.Face(0).word, QStringLiteral("BURNING"), kLong);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(bench.Face(0).status.startsWith("Waiting connection"), kLong);
    }
    Asked asked;
    if (burning) {
        AnswerNextQuestion(asked, static_cast<QMessageBox::StandardButton>(answer), [&] {
            if (signal != 0) {
                bench.window->EndOnSignal(signal);
                QTRY_VERIFY_WITH_TIMEOUT(!bench.window->exits.empty(), kLong);
            }
        });
    }
    bench.window->close();
    if (burning) {
        QCOMPARE(asked.text, kQuestion);
        QCOMPARE(asked.caption, QStringLiteral("Warning"));
        QCOMPARE(asked.icon, QMessageBox::Critical);
        QCOMPARE(asked.buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY2(asked.informative.contains(QString::fromStdString(bench.devices[0]) + " burning"),
                 qPrintable(asked.informative));
    }
    if (answer == QMessageBox::No) {
        QVERIFY(!bench.window->IsEnding());
        QTRY_VERIFY_WITH_TIMEOUT(bench.Count(0, "ok") == 1, kLong);  // the burn went on
        QVERIFY(bench.window->exits.empty());
        return;
    }
    // The program ends only once every update has ended, its files gone.
    QTRY_COMPARE_WITH_TIMEOUT(bench.window->exits, std::vector<int>({exit}), kLong);
    QVERIFY(!bench.PacketFilesLeft());
    QVERIFY(quillon::testing::PortReleased(bench.devices[0]));
}

// A list that would outgrow memory keeps its newest records; the CSV gives
// them as shown, quoting what a field holds of the separators.
void StationWindowTest::resultsKeepTheNewest() {
    quillon::ResultsModel model(nullptr, 2);
    std::vector<quillon::BoxRecord> records(3);
    records[0].start = "first";
    records[1].start = "second";
    records[2].start = "third";
    records[2].reason = "line 1, \"quoted\"\nline 2";
    model.Add({records[0]});
    model.Add({records[1], records[2]});
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.RecordAt(0).start, std::string("third"));
    QCOMPARE(model.RecordAt(1).start, std::string("second"));
    const std::string csv = quillon::ResultsCsv(model.Records());
    QVERIFY2(csv.find("\r\nthird,") != std::string::npos, csv.c_str());
    QVERIFY2(csv.find(",\"line 1, \"\"quoted\"\"\nline 2\",") != std::string::npos, csv.c_str());
    QVERIFY2(csv.find("first") == std::string::npos, csv.c_str());
    QVERIFY(csv.find("\r\nthird,") < csv.find("\r\nsecond,"));
}

QTEST_MAIN(StationWindowTest)
#include "station_window_test.moc"
