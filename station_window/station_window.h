#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/run_setup.h"
#include "station/slot_events.h"
#include "station/yield_report.h"

class QCheckBox;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableView;

namespace quillon {

class ResultsModel;
class SlotTile;
class TileGrid;

// The bench's window: a tile for each slot of a station, a header with the
// series and the run's totals, and the results below. The slots run on the
// station's threads; the window draws what they report, ten times a second
// at most, and never waits on them.
class StationWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit StationWindow(RunSetup setup, QWidget* parent = nullptr);
    ~StationWindow() override;

    // Checks the inputs, builds the series and starts every slot. false:
    // nothing runs; Refused() says why and RefusalExit() with which code.
    bool Begin();
    const BoxRecord& Refused() const;
    int RefusalExit() const;

    // The menu of one slot's tile: pause or resume it, say a new box is in
    // a held slot, open its last trace, copy its last record.
    QMenu* SlotMenu(std::size_t slot);
    // A line a scanner (or a person) typed: a slot's label, name, device or
    // number chooses the slot, and the next line is its box's identity.
    void TakeScan(const QString& line);
    // A new box is in the held slot.
    void Release(std::size_t slot);
    // Writes the results as a CSV file; false: error says why.
    bool SaveCsv(const std::string& path, std::string& error) const;
    // Every slot ends, as a close does without asking; then the program
    // ends with the code a signal gives.
    void EndOnSignal(int signal);
    bool IsEnding() const { return m_ending; }

public Q_SLOTS:
    // Pauses every slot; after that, gives each slot back its own pause.
    void ToggleAllPaused();
    void SaveCsvAsked();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Ends the program once every slot has ended; tests record it instead.
    virtual void ExitProgram(int code);

private:
    // As the log names it: its own name, else its device.
    QString SlotName(std::size_t slot) const;
    QString SlotLabel(std::size_t slot) const;
    // Started and not yet ended for good.
    bool Running() const;
    void BuildWidgets();
    QWidget* BuildHeader();
    QWidget* BuildGrid();
    QWidget* BuildResults();
    void AddShortcuts();
    void ShowSeries();
    void Refresh();
    void TakeEvents();
    void ShowTotals();
    QWidget* BuildWhoAndScan();
    void ShowPauseButton();
    void SetPaused(std::size_t slot, bool paused);
    void ApplyPauses();
    void Sound(const std::vector<BoxRecord>& records);
    // A note stays in the status bar while the slot it is about stays as it was.
    void ShowNote(std::size_t slot, const QString& text, bool lasting);
    void ClearEndedNote();
    void ShowScanSlot();
    // The close question, asked with the slots as they are when it opens.
    enum class Ending { Stay, Now, AfterBoxes };
    Ending AskEnding();
    // No new box starts; the program ends once no slot has one.
    void FinishThenEnd();
    void BeginEnding(int exitCode);

    StationConfig m_config;
    SoundOn m_soundOn;
    std::vector<std::string> m_settingsWarnings;
    BoxRecord m_refused;
    int m_refusalExit = 0;
    // Declared before the station, which uses them until it is joined.
    std::unique_ptr<EmulatedBoxes> m_boxes;
    // The slots' events, taken at each redraw.
    EventQueue m_events{nullptr};
    std::unique_ptr<Station> m_station;

    QLabel* m_folderLabel = nullptr;
    QLabel* m_seriesLabel = nullptr;
    QLabel* m_yieldLabel = nullptr;
    QLabel* m_totalsLabel = nullptr;
    QPushButton* m_pauseButton = nullptr;
    QCheckBox* m_soundSwitch = nullptr;
    QLineEdit* m_operatorField = nullptr;
    QLineEdit* m_lotField = nullptr;
    QLineEdit* m_scanField = nullptr;
    QLabel* m_scanLabel = nullptr;
    TileGrid* m_grid = nullptr;
    std::vector<SlotTile*> m_tiles;
    QTableView* m_resultsView = nullptr;
    ResultsModel* m_results = nullptr;

    QTimer m_refresh;
    QElapsedTimer m_runClock;  // since the slots started
    YieldTally m_tally;        // every box of the run, which the list may not keep
    YieldReport m_totals;
    int m_ticks = 0;
    std::vector<bool> m_paused;             // each slot's own pause
    bool m_allPaused = false;               // Stop: every slot, whatever its own
    std::optional<std::size_t> m_scanSlot;  // whose box the next scan names
    std::optional<std::size_t> m_noteSlot;  // whose state the status bar's note is about
    SlotSnapshot::State m_noteState = SlotSnapshot::State::Waiting;
    bool m_started = false;
    bool m_finishing = false;
    bool m_ending = false;
    int m_exitCode = 0;
};

}  // namespace quillon
