#include "station_window/results_model.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>

namespace quillon {

namespace {

const char* const kHeaders[ResultsModel::kColumns] = {"Ended",   "Slot",   "Device",  "Verdict",
                                                      "Seconds", "Series", "Message", "Reason"};

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// The log keeps UTC; the bench reads its own clock.
QString LocalTime(const std::string& iso) {
    QDateTime time = QDateTime::fromString(Text(iso), Qt::ISODateWithMs);
    return time.isValid() ? time.toLocalTime().toString("yyyy-MM-dd HH:mm:ss") : Text(iso);
}

QString Cell(const BoxRecord& record, int column) {
    using M = ResultsModel;
    switch (column) {
        case M::kEnded:
            return LocalTime(record.end);
        case M::kSlot:
            return Text(record.slot);
        case M::kDevice:
            return Text(record.device);
        case M::kVerdict:
            return Text(record.verdict);
        case M::kMessage:
            return Text(record.caption + ": " + record.message);
        case M::kReason:
            return Text(record.reason.substr(0, record.reason.find('\n')));
        case M::kSeconds:
            return QString::number(record.seconds, 'f', 1);
        case M::kSeries:
            return Text(record.series.substr(0, 12));
        default:
            return {};
    }
}

}  // namespace

ResultsModel::ResultsModel(QObject* parent, std::size_t kept)
    : QAbstractTableModel(parent), m_kept(kept) {}

void ResultsModel::Add(const std::vector<BoxRecord>& records) {
    if (records.empty()) {
        return;
    }
    const int added = static_cast<int>(records.size());
    beginInsertRows({}, 0, added - 1);
    m_records.insert(m_records.end(), records.begin(), records.end());
    endInsertRows();
    if (m_records.size() > m_kept) {
        // The oldest are the last rows.
        beginRemoveRows({}, static_cast<int>(m_kept), static_cast<int>(m_records.size()) - 1);
        m_records.erase(m_records.begin(), m_records.end() - static_cast<long>(m_kept));
        endRemoveRows();
    }
}

const BoxRecord& ResultsModel::RecordAt(int row) const {
    return m_records[m_records.size() - 1 - static_cast<std::size_t>(row)];
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_records.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const BoxRecord& record = RecordAt(index.row());
    if (role == Qt::DisplayRole) {
        return Cell(record, index.column());
    }
    if (role == Qt::ToolTipRole && index.column() == kReason) {
        return Text(record.reason);
    }
    if (role == Qt::ToolTipRole && index.column() == kSeries) {
        return Text(record.series);
    }
    if (role == Qt::ForegroundRole && index.column() == kVerdict && record.verdict != "ok") {
        return QBrush(QColor(0xc6, 0x28, 0x28));
    }
    return {};
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < kColumns) {
        return QString(kHeaders[section]);
    }
    return {};
}

std::string ResultsCsv(const std::deque<BoxRecord>& records) {
    std::string csv = kCsvRecordHeader;
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        csv += CsvRecordRow(*record);
    }
    return csv;
}

}  // namespace quillon
