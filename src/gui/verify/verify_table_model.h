// A list of text cells (GBK) with whole rows that can be red: the window
// 蜘蛛真伪 shows its verdicts and its crawler shares through it.
#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

namespace logdesk {

class VerifyTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Every row has headers.size() cells; `red` has one flag per row (rows
    // beyond it are not red).
    void setTable(std::vector<std::string> headers, std::vector<std::vector<std::string>> rows,
                  std::vector<bool> red = {});
    const std::vector<std::string>& headers() const { return headers_; }
    const std::vector<std::vector<std::string>>& rows() const { return rows_; }
    bool redRow(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::vector<std::string> headers_;
    std::vector<std::vector<std::string>> rows_;
    std::vector<bool> red_;
};

} // namespace logdesk
