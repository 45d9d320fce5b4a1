#pragma once

#include <QStyledItemDelegate>

class QTableWidget;
class QTableWidgetItem;

// The file list: one row per entry of the job list, four columns (file name, size, pages,
// status). The cells hold the texts; the state picture, the status colours and the progress bar
// over the Status cell are drawn by FileListDelegate from the entry and the cell.

enum FileListColumn { ColumnFileName = 0, ColumnSize = 1, ColumnPages = 2, ColumnStatus = 3 };

// Item role of the Status cell holding the progress bar's value while a file is rendered.
constexpr int GaugeRole = Qt::UserRole + 1;

// Columns, captions, widths and list behaviour; installs the delegate.
void SetUpFileList(QTableWidget* list);

// Appends a row: caption, then size, pages and status.
void AppendFileRow(QTableWidget* list, const QString& fileName, const QString& size,
                   const QString& pages, const QString& status);

// Sets one cell's text (the cell is created when missing).
void SetCellText(QTableWidget* list, int row, int column, const QString& text);

// The picture index of a State: 0 ready, 1 protected, 2 unlocked, 3 not valid; -1 for anything
// else.
int StatePicture(const QString& state);

class FileListDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit FileListDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    QIcon m_pictures[4];
};
