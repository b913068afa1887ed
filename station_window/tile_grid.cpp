#include "station_window/tile_grid.h"

#include <algorithm>
#include <cmath>

#include "station_window/slot_tile.h"

namespace quillon {

namespace {

constexpr int kGap = 6;
// A tile's best proportions, width over height: its rows of text are wide.
constexpr double kTileAspect = 4.0 / 3.0;

int RowsFor(int count, int columns) {
    return (count + columns - 1) / columns;
}

// The grid's size for count tiles of the given size in its best shape for
// a window of roughly a screen's proportions.
QSize GridSizeFor(int count, QSize tile) {
    int columns = ColumnsFor(count, QSize(16 * tile.width(), 9 * tile.height()));
    int rows = RowsFor(count, columns);
    return {columns * tile.width() + (columns - 1) * kGap,
            rows * tile.height() + (rows - 1) * kGap};
}

}  // namespace

int ColumnsFor(int count, QSize area) {
    int best = 1;
    double bestScale = 0;
    for (int columns = 1; columns <= std::max(1, count); ++columns) {
        int rows = RowsFor(count, columns);
        double width = static_cast<double>(area.width() - (columns - 1) * kGap) / columns;
        double height = static_cast<double>(area.height() - (rows - 1) * kGap) / rows;
        double scale = std::min(width / kTileAspect, height);
        if (scale > bestScale + 1e-9) {
            bestScale = scale;
            best = columns;
        }
    }
    return best;
}

TileGrid::TileGrid(QWidget* parent) : QWidget(parent) {}

void TileGrid::Add(SlotTile* tile) {
    tile->setParent(this);
    m_tiles.push_back(tile);
    Place();
    updateGeometry();
}

QSize TileGrid::sizeHint() const {
    return m_tiles.empty()
               ? QSize(320, 240)
               : GridSizeFor(static_cast<int>(m_tiles.size()), m_tiles.front()->sizeHint());
}

QSize TileGrid::minimumSizeHint() const {
    return m_tiles.empty()
               ? QSize(170, 128)
               : GridSizeFor(static_cast<int>(m_tiles.size()), m_tiles.front()->minimumSizeHint());
}

void TileGrid::resizeEvent(QResizeEvent*) {
    Place();
}

void TileGrid::Place() {
    const int count = static_cast<int>(m_tiles.size());
    if (count == 0) {
        return;
    }
    const int columns = ColumnsFor(count, size());
    const int rows = RowsFor(count, columns);
    const int width = (this->width() - (columns - 1) * kGap) / columns;
    const int height = (this->height() - (rows - 1) * kGap) / rows;
    for (int i = 0; i < count; ++i) {
        int column = i % columns;
        int row = i / columns;
        m_tiles[static_cast<std::size_t>(i)]->setGeometry(column * (width + kGap),
                                                          row * (height + kGap), width, height);
    }
}

}  // namespace quillon
