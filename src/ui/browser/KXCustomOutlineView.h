// KXCustomOutlineView: the outline of the device page. It fills each row before the row is drawn:
// the chosen row (isSelectRow) in the device colour (59,153,252), the disk rows (their row numbers in
// isRootArr) in (242,242,242), every other row white; the chosen colour wins over the disk colour.
// The fill takes the place of the style's selection highlight (in the indentation too) and of its
// focus frame around the current row's cell.
//
// The page's delegate hears everything as from any outline; the view stands between them only to
// paint the rows (OutlineDelegate::drawRowBackground). A force click on a row is not built: Linux
// reports no pressure stages, and no delegate of the program answers one.
#pragma once

#include <QColor>
#include <QStringList>
#include <memory>

#include "ui/kit/OutlineView.h"

// Row fills of the device outline (device RGB).
inline const QColor kDeviceSelectedRowColor(59, 153, 252);
inline const QColor kDeviceDiskRowColor(242, 242, 242);
inline const QColor kDeviceRowColor(Qt::white);

class KXCustomOutlineView : public kit::OutlineView {
public:
    explicit KXCustomOutlineView(const kit::Rect& frame = {});
    ~KXCustomOutlineView() override;

    // The page's delegate (not owned); the view paints the row backgrounds itself. Set it here,
    // not through kit::OutlineView.
    void setDelegate(kit::OutlineDelegate* delegate);
    kit::OutlineDelegate* delegate() const;

    // The rows painted as disk rows, as decimal row numbers ("%d").
    const QStringList& isRootArr() const { return m_isRootArr; }
    void setIsRootArr(QStringList rows);
    // The row painted as chosen; -1 for none (at first).
    int isSelectRow() const { return m_isSelectRow; }
    void setIsSelectRow(int row);
    // Stores row as the chosen row.
    void setSelectCellBackgroundColorWithRow(int row) { setIsSelectRow(row); }

    // The fill of a row by the rules above.
    QColor rowBackgroundColor(int row) const;

private:
    class RowPainter;
    std::unique_ptr<RowPainter> m_rows;
    QStringList m_isRootArr;
    int m_isSelectRow = -1;
};
