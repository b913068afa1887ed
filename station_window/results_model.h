#pragma once

#include <QAbstractTableModel>
#include <deque>
#include <string>
#include <vector>

#include "station/results_log.h"

namespace quillon {

// The result records of this run, newest first, for the list under the
// grid; the same rows make the CSV file. A run of days would outgrow any
// list: the newest ones are kept, and the log keeps every one.
class ResultsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        kEnded,
        kSlot,
        kDevice,
        kVerdict,
        kSeconds,
        kSeries,
        kMessage,
        kReason,
        kColumns
    };

    static constexpr std::size_t kKept = 5000;

    explicit ResultsModel(QObject* parent = nullptr, std::size_t kept = kKept);

    // Records as they ended, oldest first.
    void Add(const std::vector<BoxRecord>& records);
    const std::deque<BoxRecord>& Records() const { return m_records; }
    const BoxRecord& RecordAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::size_t m_kept;
    std::deque<BoxRecord> m_records;  // oldest first; rows show them backwards
};

// Every record as a row of comma-separated fields, newest first under a
// header row, quoted where a field needs it.
std::string ResultsCsv(const std::deque<BoxRecord>& records);

}  // namespace quillon
