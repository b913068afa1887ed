#include "station_window/station_window.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/file.h"
#include "platform/interrupts.h"
#include "station/preflight.h"
#include "station/yield_report.h"
#include "station_window/results_model.h"
#include "station_window/slot_face.h"
#include "station_window/slot_tile.h"
#include "station_window/tile_grid.h"

// The lamps and the icon live in a static library; nothing references its
// resource initialiser, so it is called by hand.
static void InitStationResources() {
    Q_INIT_RESOURCE(station_window);
}

namespace quillon {

namespace {

using namespace std::chrono_literals;

constexpr auto kRedrawEvery = 100ms;
constexpr int kTicksPerBlink = 10;  // the lamp's second

const char* const kInterruptQuestion =
    "To interrupt this operation may cause STB flash crashed, \ndo you want exiting?";

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* HeaderLabel(const char* name, double scale, bool bold) {
    auto* label = new QLabel;
    label->setObjectName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(bold);
    label->setFont(font);
    return label;
}

}  // namespace

StationWindow::StationWindow(RunSetup setup, QWidget* parent)
    : QMainWindow(parent),
      m_config(std::move(setup.config)),
      m_settingsWarnings(std::move(setup.warnings)),
      m_boxes(std::move(setup.boxes)),
      m_paused(m_config.slots.size(), false) {
    InitStationResources();
    setWindowTitle(m_config.stationName.empty()
                       ? QStringLiteral("quillon-station")
                       : QStringLiteral("quillon-station: ") + Text(m_config.stationName));
    setWindowIcon(QIcon(QStringLiteral(":/station/station.svg")));
    BuildWidgets();
    connect(&m_refresh, &QTimer::timeout, this, &StationWindow::Refresh);
}

// The station, going first, ends its slots and joins them.
StationWindow::~StationWindow() = default;

void StationWindow::BuildWidgets() {
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(BuildHeader());
    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(BuildGrid());
    splitter->addWidget(BuildResults());
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    layout->addWidget(splitter, 1);
    setCentralWidget(central);
    AddShortcuts();
}

QWidget* StationWindow::BuildGrid() {
    m_grid = new TileGrid;
    for (std::size_t i = 0; i < m_config.slots.size(); ++i) {
        // A slot without a name of its own goes by its device: the tile
        // shows the device's last part large, the whole path below.
        const SlotSpec& slot = m_config.slots[i];
        bool named = !slot.name.empty() && slot.name != slot.device;
        auto* tile = new SlotTile(named ? Text(slot.name) : Text(slot.device).section('/', -1),
                                  Text(slot.device));
        tile->setObjectName(QStringLiteral("slot%1").arg(i));
        connect(tile, &QWidget::customContextMenuRequested, this, [this, i, tile](QPoint at) {
            QMenu* menu = SlotMenu(i);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(tile->mapToGlobal(at));
        });
        m_grid->Add(tile);
        m_tiles.push_back(tile);
    }
    return m_grid;
}

void StationWindow::AddShortcuts() {
    auto* pauseAll = new QAction(QStringLiteral("Pause or resume every slot"), this);
    pauseAll->setShortcut(Qt::Key_Space);
    connect(pauseAll, &QAction::triggered, this, &StationWindow::ToggleAllPaused);
    auto* quit = new QAction(QStringLiteral("Quit"), this);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    addActions({pauseAll, quit});
}

QWidget* StationWindow::BuildHeader() {
    auto* header = new QWidget;
    auto* layout = new QGridLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    m_folderLabel = HeaderLabel("bootFolderLabel", 1.0, false);
    m_folderLabel->setText("Boot folder: " + Text(m_config.request.bootFolder));
    m_seriesLabel = HeaderLabel("seriesLabel", 1.0, false);
    m_totalsLabel = HeaderLabel("totalsLabel", 1.5, true);
    m_totalsLabel->setText(QStringLiteral("No box yet"));
    m_pauseButton = new QPushButton;
    m_pauseButton->setObjectName("startStopButton");
    m_pauseButton->setToolTip(
        QStringLiteral("Stop: every slot finishes the box it has, then takes no other.\n"
                       "Start: every slot waits for its next box again."));
    QFont buttonFont = m_pauseButton->font();
    buttonFont.setPointSizeF(buttonFont.pointSizeF() * 1.4);
    buttonFont.setBold(true);
    m_pauseButton->setFont(buttonFont);
    m_pauseButton->setMinimumWidth(m_pauseButton->fontMetrics().horizontalAdvance("Start (Space)") +
                                   40);
    connect(m_pauseButton, &QPushButton::clicked, this, &StationWindow::ToggleAllPaused);
    layout->addWidget(m_totalsLabel, 0, 0);
    layout->addWidget(m_folderLabel, 1, 0);
    layout->addWidget(m_seriesLabel, 2, 0);
    layout->addWidget(m_pauseButton, 0, 1, 3, 1);
    layout->setColumnStretch(0, 1);
    ShowPauseButton();
    return header;
}

QWidget* StationWindow::BuildResults() {
    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Results, newest first (the last %1; the log keeps "
                                             "every one)")
                                  .arg(ResultsModel::kKept)),
                   1);
    auto* save = new QPushButton(QStringLiteral("&Save as CSV..."));
    save->setObjectName("saveCsvButton");
    connect(save, &QPushButton::clicked, this, &StationWindow::SaveCsvAsked);
    row->addWidget(save);
    layout->addLayout(row);
    m_results = new ResultsModel(this);
    m_resultsView = new QTableView;
    m_resultsView->setObjectName("resultsView");
    m_resultsView->setModel(m_results);
    m_resultsView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_resultsView->setAlternatingRowColors(true);
    m_resultsView->verticalHeader()->hide();
    m_resultsView->horizontalHeader()->setStretchLastSection(true);
    m_resultsView->setWordWrap(false);
    m_resultsView->setMinimumHeight(m_resultsView->fontMetrics().height() * 7);
    // Widths for the texts each column holds, set once: measuring every row
    // as records come would cost more than the drawing of the tiles.
    const QFontMetrics metrics = m_resultsView->fontMetrics();
    const std::pair<int, const char*> widths[] = {
        {ResultsModel::kEnded, "2026-12-09 00:00:00"},
        {ResultsModel::kSlot, "/dev/ttyUSB00"},
        {ResultsModel::kDevice, "/dev/ttyUSB00"},
        {ResultsModel::kVerdict, "cancelled"},
        {ResultsModel::kSeconds, "00000.0"},
        {ResultsModel::kSeries, "0000000000000"},
        {ResultsModel::kMessage, "Success: Successful to update flash! STB has restarted"}};
    for (const auto& [column, text] : widths) {
        m_resultsView->horizontalHeader()->resizeSection(column,
                                                         metrics.horizontalAdvance(text) + 16);
    }
    layout->addWidget(m_resultsView);
    return pane;
}

bool StationWindow::Begin() {
    m_station = std::make_unique<Station>(m_config);
    if (!m_station->Prepare()) {
        return false;
    }
    ShowSeries();
    m_station->Start(&m_events, {});
    m_runClock.start();
    m_started = true;
    QStringList warnings;
    for (const std::string& warning : m_settingsWarnings) {
        warnings << Text(warning);
    }
    for (const std::string& warning : m_station->Facts().warnings) {
        warnings << "warning: " + Text(warning);
    }
    statusBar()->showMessage(warnings.join("; "));
    Refresh();
    m_refresh.start(kRedrawEvery);
    return true;
}

const BoxRecord& StationWindow::Refused() const {
    return m_station->Refused();
}

int StationWindow::RefusalExit() const {
    return m_station->RefusalExit();
}

void StationWindow::ShowSeries() {
    const SeriesFacts& facts = m_station->Facts();
    m_folderLabel->setText(QStringLiteral("Boot folder: %1 (%2 packet files, %3)")
                               .arg(Text(m_config.request.bootFolder))
                               .arg(facts.files)
                               .arg(Text(SizeText(facts.bytes))));
    const std::string& expected = m_config.request.expectedSeries;
    // Begin refuses a series that is not the one expected, so one that
    // runs is it.
    QString match = expected.empty() ? QStringLiteral("no series expected")
                                     : QStringLiteral(
                                           "<span style='color:#2e7d32'><b>the one expected "
                                           "(%1)</b></span>")
                                           .arg(Text(expected).toHtmlEscaped());
    m_seriesLabel->setText(QStringLiteral("Series %1: %2")
                               .arg(Text(facts.identity.substr(0, 16)).toHtmlEscaped(), match));
    m_seriesLabel->setToolTip(Text(facts.identity));
}

QString StationWindow::SlotName(std::size_t slot) const {
    const SlotSpec& spec = m_config.slots[slot];
    return Text(spec.name.empty() ? spec.device : spec.name);
}

bool StationWindow::Running() const {
    return m_started && m_station;
}

void StationWindow::Refresh() {
    if (!Running()) {
        return;
    }
    ++m_ticks;
    TakeEvents();
    const bool blinkPhase = (m_ticks / kTicksPerBlink) % 2 == 1;
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        m_tiles[i]->Show(FaceOf(m_station->Snapshot(i), m_paused[i]), blinkPhase);
    }
    if (m_ending && m_station->Done()) {
        m_refresh.stop();
        m_station->Join();
        // The shared series, its packet files and the boot folder's lock
        // go with the station: gone before the program says it has ended.
        m_station.reset();
        ExitProgram(m_exitCode);
    }
}

// The window draws the tiles from the slots' snapshots; of the events it
// keeps the records of ended boxes and the notes.
void StationWindow::TakeEvents() {
    std::vector<BoxRecord> records;
    m_events.Drain([&](std::size_t slot, const SlotEvent& event) {
        if (const auto* ended = std::get_if<BoxEndedEvent>(&event)) {
            // The list shows what the log keeps: boxes, and failures without
            // one (a port that never opened); not a wait that a stop ended.
            const BoxRecord& record = ended->record;
            if (record.hadBox || record.verdict != "cancelled") {
                records.push_back(record);
            }
        } else if (const auto* note = std::get_if<NoteEvent>(&event)) {
            statusBar()->showMessage(SlotName(slot) + ": " + Text(note->text));
        } else if (const auto* warning = std::get_if<WarningEvent>(&event)) {
            statusBar()->showMessage(SlotName(slot) + ": warning: " + Text(warning->text));
        }
    });
    m_results->Add(records);
    for (const BoxRecord& record : records) {
        m_tally.Add(record);
    }
    if (!records.empty()) {
        m_totals = m_tally.Report();
    }
    // The rate changes as time goes, boxes or none.
    if (!records.empty() || m_ticks % kTicksPerBlink == 0) {
        ShowTotals();
    }
}

void StationWindow::ShowTotals() {
    const int boxes = m_totals.ok + m_totals.failed;
    if (boxes == 0) {
        return;
    }
    // Over the time the run has gone on, waits for boxes included: the
    // span of the records alone makes one quick box thousands an hour.
    const double hours = static_cast<double>(std::max<qint64>(m_runClock.elapsed(), 60000)) / 3.6e6;
    m_totalsLabel->setText(
        QStringLiteral("%1 boxes: %2 ok, %3 failed; yield %4 %; %5 boxes an hour")
            .arg(boxes)
            .arg(m_totals.ok)
            .arg(m_totals.failed)
            .arg(m_totals.yield * 100, 0, 'f', 1)
            .arg(boxes / hours, 0, 'f', 0));
}

void StationWindow::ShowPauseButton() {
    bool allPaused = std::all_of(m_paused.begin(), m_paused.end(), [](bool p) { return p; });
    m_pauseButton->setText(allPaused ? QStringLiteral("Start (Space)")
                                     : QStringLiteral("Stop (Space)"));
}

void StationWindow::ToggleAllPaused() {
    if (m_ending || !Running()) {
        return;
    }
    bool allPaused = std::all_of(m_paused.begin(), m_paused.end(), [](bool p) { return p; });
    std::fill(m_paused.begin(), m_paused.end(), !allPaused);
    m_station->SetAllPaused(!allPaused);
    ShowPauseButton();
    Refresh();
}

void StationWindow::SetPaused(std::size_t slot, bool paused) {
    if (m_ending || !Running()) {
        return;
    }
    m_paused[slot] = paused;
    m_station->SetPaused(slot, paused);
    ShowPauseButton();
    Refresh();
}

QMenu* StationWindow::SlotMenu(std::size_t slot) {
    auto* menu = new QMenu(this);
    std::optional<BoxRecord> last =
        Running() ? m_station->Snapshot(slot).last : std::optional<BoxRecord>();
    QAction* pause = menu->addAction(m_paused[slot] ? QStringLiteral("&Resume this slot")
                                                    : QStringLiteral("&Pause this slot"));
    pause->setObjectName("pauseSlot");
    pause->setEnabled(!m_ending);
    connect(pause, &QAction::triggered, this, [this, slot] { SetPaused(slot, !m_paused[slot]); });
    QAction* trace = menu->addAction(QStringLiteral("Open its last &trace"));
    trace->setObjectName("openTrace");
    trace->setEnabled(last && !last->trace.empty());
    QString tracePath = last ? Text(last->trace) : QString();
    connect(trace, &QAction::triggered, this,
            [tracePath] { QDesktopServices::openUrl(QUrl::fromLocalFile(tracePath)); });
    QAction* copy = menu->addAction(QStringLiteral("&Copy its last record"));
    copy->setObjectName("copyRecord");
    copy->setEnabled(last.has_value());
    QString line = last ? Text(RecordLine(*last)).trimmed() : QString();
    connect(copy, &QAction::triggered, this,
            [line] { QGuiApplication::clipboard()->setText(line); });
    return menu;
}

void StationWindow::SaveCsvAsked() {
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the results as CSV"),
                                                QStringLiteral("results.csv"),
                                                QStringLiteral("CSV files (*.csv)"));
    std::string error;
    if (!path.isEmpty() && !SaveCsv(path.toStdString(), error)) {
        QMessageBox::warning(this, QStringLiteral("Save as CSV"),
                             "Cannot write " + path + ": " + Text(error));
    }
}

bool StationWindow::SaveCsv(const std::string& path, std::string& error) const {
    std::string csv = ResultsCsv(m_results->Records());
    File file;
    if (!file.Open(path, File::Mode::Overwrite)) {
        error = OpenErrorText(file.LastOpenError());
        return false;
    }
    try {
        file.Write(csv.data(), csv.size());
        file.Close();
    } catch (const FileError& failure) {
        error = failure.Reason();
        return false;
    }
    return true;
}

bool StationWindow::MayEnd() {
    QStringList working;
    bool writing = false;
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        SlotSnapshot shot = m_station->Snapshot(i);
        if (shot.state == SlotSnapshot::State::Working) {
            working << SlotName(i) + " " + PhaseWords(shot.phase);
            writing = writing || IsWritingFlash(shot);
        }
    }
    if (!writing) {
        return true;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Warning"), kInterruptQuestion,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setInformativeText("Working now: " + working.join(", "));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void StationWindow::closeEvent(QCloseEvent* event) {
    // The program ends only once every slot has ended: the window stays
    // until then.
    if (!m_started) {
        event->accept();  // nothing runs: a refused start
        return;
    }
    event->ignore();
    if (m_ending) {
        return;
    }
    // The question runs an event loop of its own, in which a termination
    // request may already have ended everything.
    if (MayEnd() && !m_ending) {
        BeginEnding(0);
    }
}

void StationWindow::EndOnSignal(int signal) {
    if (!m_ending && Running()) {
        m_station->Stop(signal);
        BeginEnding(InterruptWatch::ExitCodeFor(signal));
    }
}

void StationWindow::BeginEnding(int exitCode) {
    m_ending = true;
    m_exitCode = exitCode;
    m_station->Stop();
    m_pauseButton->setEnabled(false);
    statusBar()->showMessage(
        QStringLiteral("Ending every update; the packet files go once every slot has ended"));
    if (!m_refresh.isActive()) {
        m_refresh.start(kRedrawEvery);
    }
}

void StationWindow::ExitProgram(int code) {
    QCoreApplication::exit(code);
}

}  // namespace quillon
