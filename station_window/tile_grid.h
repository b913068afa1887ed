#pragma once

#include <QSize>
#include <QWidget>
#include <vector>

namespace quillon {

class SlotTile;

// How many columns suit count tiles in an area: the shape in which each
// tile can be largest at the proportions a tile reads best in.
int ColumnsFor(int count, QSize area);

// Lays the slots' tiles out in rows and columns that fill it, for any
// number of slots from 1 to 32 and any shape of window.
class TileGrid : public QWidget {
    Q_OBJECT

public:
    explicit TileGrid(QWidget* parent = nullptr);

    void Add(SlotTile* tile);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Place();

    std::vector<SlotTile*> m_tiles;
};

}  // namespace quillon
