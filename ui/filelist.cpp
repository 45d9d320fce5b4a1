#include "ui/filelist.h"

#include "engine/pdffile.h"
#include "ui/look.h"

#include <QHeaderView>
#include <QPainter>
#include <QTableWidget>

namespace {

// The entry a row shows; nullptr when the job list does not reach that far.
const TPdffile* EntryOfRow(int row) {
    const TPdfList* list = PdfFileList;
    if (list == nullptr || row < 0 || row + 1 > list->count())
        return nullptr;
    return list->at(row);
}

} // namespace

int StatePicture(const QString& state) {
    if (state == StateFalse)
        return 3;
    if (state == StateProtected)
        return 1;
    if (state == StateTrue)
        return 0;
    if (state == StateUnprotected)
        return 2;
    return -1;
}

void SetUpFileList(QTableWidget* list) {
    list->setColumnCount(4);
    list->setHorizontalHeaderLabels({QStringLiteral("  File Name"), QStringLiteral("Size"),
                                     QStringLiteral("Pages"), QStringLiteral("  Status")});
    const int widths[] = {150, 70, 50, 190};
    // The first column is drawn left-aligned whatever it is set to, as desktop lists do.
    const Qt::Alignment alignments[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignHCenter,
                                        Qt::AlignLeft};
    for (int column = 0; column < 4; ++column) {
        list->setColumnWidth(column, widths[column]);
        list->horizontalHeaderItem(column)->setTextAlignment(alignments[column] | Qt::AlignVCenter);
    }
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSortingEnabled(false);
    list->setWordWrap(false);
    list->setTextElideMode(Qt::ElideRight);
    list->setIconSize(QSize(22, 22));
    list->setMouseTracking(true);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(26);
    list->horizontalHeader()->setSectionsClickable(false);
    list->horizontalHeader()->setHighlightSections(false);
    list->horizontalHeader()->setStretchLastSection(false);
    list->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // The names and the statuses take whatever room a wider window gives the list.
    list->horizontalHeader()->setSectionResizeMode(ColumnFileName, QHeaderView::Stretch);
    list->horizontalHeader()->setSectionResizeMode(ColumnStatus, QHeaderView::Stretch);
    list->setItemDelegate(new FileListDelegate(list));
}

void SetCellText(QTableWidget* list, int row, int column, const QString& text) {
    QTableWidgetItem* item = list->item(row, column);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        if (column == ColumnSize || column == ColumnPages)
            item->setTextAlignment(Qt::AlignCenter);
        else
            item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        list->setItem(row, column, item);
    }
    item->setText(text);
    // A narrow list shortens names and statuses: the whole text shows when pointed at.
    if (column == ColumnFileName || column == ColumnStatus)
        item->setToolTip(text);
}

void AppendFileRow(QTableWidget* list, const QString& fileName, const QString& size,
                   const QString& pages, const QString& status) {
    const int row = list->rowCount();
    list->insertRow(row);
    SetCellText(list, row, ColumnFileName, fileName);
    SetCellText(list, row, ColumnSize, size);
    SetCellText(list, row, ColumnPages, pages);
    SetCellText(list, row, ColumnStatus, status);
}

FileListDelegate::FileListDelegate(QObject* parent) : QStyledItemDelegate(parent) {
    const char* const names[] = {"state-ready", "state-protected", "state-unprotected",
                                 "state-invalid"};
    for (int i = 0; i < 4; ++i)
        m_pictures[i] = LookIcon(QString::fromLatin1(names[i]));
}

void FileListDelegate::initStyleOption(QStyleOptionViewItem* option,
                                       const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const TPdffile* entry = EntryOfRow(index.row());
    if (entry == nullptr)
        return;
    const QString state = entry->State();
    if (index.column() == ColumnFileName) {
        // Long names that differ only at their end stay apart.
        option->textElideMode = Qt::ElideMiddle;
        // The picture follows State on every paint; nothing else sets it.
        const int picture = StatePicture(state);
        if (picture >= 0) {
            option->icon = m_pictures[picture];
            option->features |= QStyleOptionViewItem::HasDecoration;
            option->decorationSize = QSize(22, 22);
        }
    } else if (index.column() == ColumnStatus) {
        QColor colour;
        if (state == StateFalse || state == StateProtected || entry->Failed()) {
            colour = LookStatusColour(true, option->palette.color(QPalette::Base));
        } else if (IsConvertible(state) && !entry->OutputName().isEmpty()) {
            colour = LookStatusColour(false, option->palette.color(QPalette::Base));
            option->font.setUnderline(true);
        }
        if (colour.isValid()) {
            option->palette.setColor(QPalette::Text, colour);
            option->palette.setColor(QPalette::HighlightedText, colour);
        }
    }
}

void FileListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const QVariant gauge = index.data(GaugeRole);
    if (index.column() != ColumnStatus || !gauge.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The progress bar covers exactly the Status cell while the file is rendered.
    const QRectF cell = QRectF(option.rect).adjusted(1.5, 2.5, -1.5, -2.5);
    const double filled = (cell.width() - 2) * qBound(0, gauge.toInt(), 100) / 100.0;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QColor(0xa9, 0xb6, 0xc6));
    painter->setBrush(Qt::white);
    painter->drawRoundedRect(cell, 3, 3);
    if (filled > 0) {
        const QRectF chunk(cell.left() + 1, cell.top() + 1, filled, cell.height() - 2);
        QLinearGradient blue(chunk.topLeft(), chunk.bottomLeft());
        blue.setColorAt(0, QColor(0x4a, 0x93, 0xe3));
        blue.setColorAt(1, QColor(0x24, 0x68, 0xbd));
        painter->setPen(Qt::NoPen);
        painter->setBrush(blue);
        painter->drawRoundedRect(chunk, 2, 2);
    }
    painter->restore();
}
