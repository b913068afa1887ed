#include "station_window/station_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
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
// A box identity as the identity command gives it: a line of printable text.
constexpr int kLongestIdentity = 128;
constexpr auto kSecondBeep = 250ms;

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
      m_soundOn(setup.sound),
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
    // The tiles are read from afar; the list is read up close.
    splitter->setStretchFactor(0, 6);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    layout->addWidget(splitter, 1);
    setCentralWidget(central);
    AddShortcuts();
}

QWidget* StationWindow::BuildGrid() {
    m_grid = new TileGrid;
    for (std::size_t i = 0; i < m_config.slots.size(); ++i) {
        // Its label large, its name and device in its tooltip.
        const SlotSpec& slot = m_config.slots[i];
        auto* tile = new SlotTile(slot.label.empty() ? SlotName(i) : Text(slot.label), SlotName(i),
                                  Text(slot.device));
        tile->setObjectName(QStringLiteral("slot%1").arg(i));
        tile->installEventFilter(this);
        connect(tile, &SlotTile::ReleaseAsked, this, [this, i] { Release(i); });
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
    m_yieldLabel = HeaderLabel("yieldLabel", 2.4, true);
    m_yieldLabel->setText(QStringLiteral("No box yet"));
    m_totalsLabel = HeaderLabel("totalsLabel", 1.3, true);
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
    auto* figures = new QHBoxLayout;
    figures->addWidget(m_yieldLabel);
    figures->addSpacing(24);
    figures->addWidget(m_totalsLabel, 1);
    layout->addLayout(figures, 0, 0);
    layout->addWidget(m_folderLabel, 1, 0);
    layout->addWidget(m_seriesLabel, 2, 0);
    layout->addWidget(BuildWhoAndScan(), 3, 0);
    layout->addWidget(m_pauseButton, 0, 1, 4, 1);
    layout->setColumnStretch(0, 1);
    ShowPauseButton();
    return header;
}

// Who flashes for which lot, changed between boxes; the scan of a slot's
// label and then of its box; the sound.
QWidget* StationWindow::BuildWhoAndScan() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto field = [&](const char* name, const QString& label, const std::string& value) {
        auto* edit = new QLineEdit(Text(value));
        edit->setObjectName(name);
        auto* caption = new QLabel(label);
        caption->setBuddy(edit);
        layout->addWidget(caption);
        layout->addWidget(edit);
        return edit;
    };
    m_operatorField = field("operatorField", QStringLiteral("&Operator:"), m_config.operatorName);
    m_lotField = field("lotField", QStringLiteral("&Lot:"), m_config.lot);
    m_scanField = field("scanField", QStringLiteral("S&can:"), {});
    m_scanField->setPlaceholderText(QStringLiteral("slot label, then box"));
    m_scanField->setToolTip(
        QStringLiteral("Scan (or type) a slot's label, then its box's identity, each ending "
                       "with Enter. Esc forgets the slot."));
    m_scanField->installEventFilter(this);
    m_scanLabel = HeaderLabel("scanLabel", 1.3, true);
    layout->addWidget(m_scanLabel, 1);
    m_soundSwitch = new QCheckBox(QStringLiteral("Sou&nd"));
    m_soundSwitch->setObjectName("soundSwitch");
    m_soundSwitch->setChecked(m_soundOn != SoundOn::Never);
    m_soundSwitch->setToolTip(QStringLiteral("A sound on each box that fails"));
    layout->addWidget(m_soundSwitch);
    connect(m_operatorField, &QLineEdit::editingFinished, this, [this] {
        if (Running()) {
            m_station->SetOperator(m_operatorField->text().trimmed().toStdString());
        }
    });
    connect(m_lotField, &QLineEdit::editingFinished, this, [this] {
        if (Running()) {
            m_station->SetLot(m_lotField->text().trimmed().toStdString());
        }
    });
    connect(m_scanField, &QLineEdit::returnPressed, this, [this] {
        QString line = m_scanField->text();
        m_scanField->clear();
        TakeScan(line);
    });
    ShowScanSlot();
    return row;
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
        // Nothing of the run is kept while its refusal is shown.
        m_refused = m_station->Refused();
        m_refusalExit = m_station->RefusalExit();
        m_station.reset();
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
    m_scanField->setFocus();  // a scanner types into the window from the start
    Refresh();
    m_refresh.start(kRedrawEvery);
    return true;
}

const BoxRecord& StationWindow::Refused() const {
    return m_refused;
}

int StationWindow::RefusalExit() const {
    return m_refusalExit;
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

QString StationWindow::SlotLabel(std::size_t slot) const {
    const SlotSpec& spec = m_config.slots[slot];
    return spec.label.empty() ? SlotName(slot) : Text(spec.label);
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
    bool working = false;
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        SlotSnapshot shot = m_station->Snapshot(i);
        working = working || shot.state == SlotSnapshot::State::Working;
        SlotFace face = FaceOf(shot, m_paused[i] || m_allPaused);
        face.awaitingScan = m_scanSlot == i;
        m_tiles[i]->Show(face, blinkPhase);
    }
    ClearEndedNote();
    if (m_finishing && !m_ending && !working) {
        BeginEnding(0);
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
            bool warning = note->text.rfind("warning", 0) == 0;
            ShowNote(slot, SlotName(slot) + ": " + Text(note->text), warning);
        } else if (const auto* warning = std::get_if<WarningEvent>(&event)) {
            ShowNote(slot, SlotName(slot) + ": warning: " + Text(warning->text), true);
        }
    });
    m_results->Add(records);
    Sound(records);
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
    const auto boxes = m_totals.ok + m_totals.failed;
    if (boxes == 0) {
        return;
    }
    // Over the time the run has gone on, waits for boxes included: the
    // span of the records alone makes one quick box thousands an hour.
    const double hours = static_cast<double>(std::max<qint64>(m_runClock.elapsed(), 60000)) / 3.6e6;
    m_yieldLabel->setText(QStringLiteral("Yield %1 %   First pass %2 %")
                              .arg(m_totals.yield * 100, 0, 'f', 1)
                              .arg(m_totals.firstPassYield * 100, 0, 'f', 1));
    QString totals = QStringLiteral("%1 boxes: %2 ok, %3 failed")
                         .arg(boxes)
                         .arg(m_totals.ok)
                         .arg(m_totals.failed);
    if (m_totals.attempts > boxes) {
        totals += QStringLiteral(", %1 tries").arg(m_totals.attempts);
    }
    m_totalsLabel->setText(
        totals +
        QStringLiteral("; %1 boxes an hour").arg(static_cast<double>(boxes) / hours, 0, 'f', 0));
}

// Heard across the room: two short beeps for a box that did not succeed,
// one for a good box when every verdict is asked for.
void StationWindow::Sound(const std::vector<BoxRecord>& records) {
    if (!m_soundSwitch->isChecked()) {
        return;
    }
    bool failed = false;
    bool good = false;
    for (const BoxRecord& record : records) {
        failed = failed || (record.hadBox && record.verdict == "failed");
        good = good || record.verdict == "ok";
    }
    if (failed) {
        QApplication::beep();
        QTimer::singleShot(kSecondBeep, this, [] { QApplication::beep(); });
    } else if (good && m_soundOn == SoundOn::Every) {
        QApplication::beep();
    }
}

void StationWindow::ShowNote(std::size_t slot, const QString& text, bool lasting) {
    statusBar()->showMessage(text);
    m_noteSlot.reset();
    if (!lasting && Running()) {
        m_noteSlot = slot;
        m_noteState = m_station->Snapshot(slot).state;
    }
}

// A note about a slot's state ("adapter gone", "held") goes once that state
// has.
void StationWindow::ClearEndedNote() {
    if (m_noteSlot && m_station->Snapshot(*m_noteSlot).state != m_noteState) {
        statusBar()->clearMessage();
        m_noteSlot.reset();
    }
}

void StationWindow::ShowPauseButton() {
    m_pauseButton->setText(m_allPaused ? QStringLiteral("Start (Space)")
                                       : QStringLiteral("Stop (Space)"));
}

// Each slot is paused by Stop or by its own pause; Start leaves the latter.
void StationWindow::ApplyPauses() {
    for (std::size_t i = 0; i < m_paused.size(); ++i) {
        m_station->SetPaused(i, m_allPaused || m_paused[i]);
    }
    ShowPauseButton();
    Refresh();
}

void StationWindow::ToggleAllPaused() {
    if (m_ending || m_finishing || !Running()) {
        return;
    }
    m_allPaused = !m_allPaused;
    ApplyPauses();
}

void StationWindow::SetPaused(std::size_t slot, bool paused) {
    if (m_ending || m_finishing || !Running()) {
        return;
    }
    m_paused[slot] = paused;
    ApplyPauses();
}

void StationWindow::Release(std::size_t slot) {
    if (Running() && m_station->Snapshot(slot).state == SlotSnapshot::State::Held) {
        m_station->Release(slot);
        Refresh();
    }
}

void StationWindow::ShowScanSlot() {
    m_scanLabel->setText(
        m_scanSlot ? QStringLiteral("Scan the box for %1").arg(SlotLabel(*m_scanSlot)) : QString());
}

void StationWindow::TakeScan(const QString& line) {
    const QString text = line.trimmed();
    if (text.isEmpty() || !Running()) {
        return;
    }
    if (std::optional<std::size_t> slot = m_station->FindSlot(text.toStdString())) {
        m_scanSlot = slot;  // a slot's label always chooses its slot
        ShowScanSlot();
        Refresh();
        return;
    }
    if (!m_scanSlot) {
        statusBar()->showMessage("No slot is labelled " + text +
                                 ": scan the slot's label first, then its box");
        return;
    }
    bool printable = std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
    if (text.size() > kLongestIdentity || !printable) {
        statusBar()->showMessage(
            QStringLiteral("Not a box identity (at most %1 printable characters): %2")
                .arg(kLongestIdentity)
                .arg(text.left(kLongestIdentity)));
        return;
    }
    const std::size_t slot = *std::exchange(m_scanSlot, std::nullopt);
    m_station->SetBoxIdentity(slot, text.toStdString());
    statusBar()->showMessage(SlotLabel(slot) + ": the next box is " + text);
    // A box scanned for a held slot is the new box put in.
    Release(slot);
    ShowScanSlot();
    Refresh();
}

bool StationWindow::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (watched == m_scanField && type == QEvent::ShortcutOverride) {
        // An empty scan field leaves Space to Stop and Start.
        auto* key = static_cast<QKeyEvent*>(event);
        return key->key() == Qt::Key_Space && m_scanField->text().isEmpty();
    }
    if (watched == m_scanField && type == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        m_scanSlot.reset();
        m_scanField->clear();
        ShowScanSlot();
        Refresh();
        return true;
    }
    // A scanner types into whatever has the focus: a tile hands it on.
    if (type == QEvent::KeyPress && qobject_cast<SlotTile*>(watched) != nullptr) {
        auto* key = static_cast<QKeyEvent*>(event);
        QString text = key->text();
        bool typed = !text.isEmpty() && text.at(0).isPrint() && key->key() != Qt::Key_Space &&
                     (key->modifiers() & ~Qt::ShiftModifier) == Qt::NoModifier;
        if (typed) {
            m_scanField->setFocus();
            m_scanField->insert(text);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QMenu* StationWindow::SlotMenu(std::size_t slot) {
    auto* menu = new QMenu(this);
    std::optional<BoxRecord> last =
        Running() ? m_station->Snapshot(slot).last : std::optional<BoxRecord>();
    QAction* pause = menu->addAction(m_paused[slot] ? QStringLiteral("&Resume this slot")
                                                    : QStringLiteral("&Pause this slot"));
    pause->setObjectName("pauseSlot");
    pause->setEnabled(!m_ending && !m_finishing);
    connect(pause, &QAction::triggered, this, [this, slot] { SetPaused(slot, !m_paused[slot]); });
    QAction* release = menu->addAction(QStringLiteral("New box &in (Enter)"));
    release->setObjectName("releaseSlot");
    release->setEnabled(Running() && m_station->Snapshot(slot).state == SlotSnapshot::State::Held);
    connect(release, &QAction::triggered, this, [this, slot] { Release(slot); });
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
        error = file.OpenFault().words;
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

StationWindow::Ending StationWindow::AskEnding() {
    Refresh();  // the tiles and the question tell the same
    QStringList working;
    bool writing = false;
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        SlotSnapshot shot = m_station->Snapshot(i);
        if (shot.state == SlotSnapshot::State::Working) {
            working << SlotName(i) + " " + PhaseWords(shot.phase);
            writing = writing || IsWritingFlash(shot);
        }
    }
    if (working.isEmpty()) {
        return Ending::Now;
    }
    // Past the execute command the design's question; before it, a stop
    // only costs the boxes their download.
    QMessageBox box(this);
    QAbstractButton* now = nullptr;
    if (writing) {
        box.setIcon(QMessageBox::Critical);
        box.setWindowTitle(QStringLiteral("Warning"));
        box.setText(kInterruptQuestion);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        now = box.button(QMessageBox::Yes);
    } else {
        box.setIcon(QMessageBox::Question);
        box.setWindowTitle(QStringLiteral("quillon-station"));
        box.setText(
            QStringLiteral("Boxes are downloading. Stop them now (their flash is "
                           "untouched), or finish them first?"));
        now = box.addButton(QStringLiteral("&Stop them and quit"), QMessageBox::DestructiveRole);
        box.setDefaultButton(box.addButton(QMessageBox::Cancel));
    }
    QPushButton* after = box.addButton(QStringLiteral("&Finish the boxes under way, then quit"),
                                       QMessageBox::AcceptRole);
    after->setObjectName("finishThenQuit");
    box.setInformativeText("Working now: " + working.join(", "));
    box.exec();
    if (box.clickedButton() == after) {
        return Ending::AfterBoxes;
    }
    return box.clickedButton() == now ? Ending::Now : Ending::Stay;
}

void StationWindow::FinishThenEnd() {
    m_finishing = true;
    m_allPaused = true;
    ApplyPauses();
    m_pauseButton->setEnabled(false);
    statusBar()->showMessage(
        QStringLiteral("Finishing the boxes under way; no new box starts, and the program ends "
                       "once every slot has finished"));
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
    Ending ending = AskEnding();
    if (m_ending) {
        return;
    }
    if (ending == Ending::Now) {
        BeginEnding(0);
    } else if (ending == Ending::AfterBoxes) {
        FinishThenEnd();
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
