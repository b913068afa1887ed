#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "station/results_log.h"

namespace quillon {

// The result records of this run, newest first, for the list under the
// grid; the same rows make the CSV file.
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

    using QAbstractTableModel::QAbstractTableModel;

    // Records as they ended, oldest first.
    void Add(const std::vector<BoxRecord>& records);
    const std::vector<BoxRecord>& Records() const { return m_records; }
    const BoxRecord& RecordAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<BoxRecord> m_records;  // oldest first; rows show them backwards
};

// Every record as a row of comma-separated fields, newest first under a
// header row, quoted where a field needs it.
std::string ResultsCsv(const std::vector<BoxRecord>& records);

}  // namespace quillon
