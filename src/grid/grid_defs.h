#pragma once
// Numbers shared by the grid and the code that drives it: operation results, window styles,
// the parts of the grid a mouse position can fall on, column sizing modes and limits.

#include "com/types.h"

// Results of the grid's operations: 0 when done, non-zero when the arguments were refused (the
// grid is then unchanged).
inline constexpr int GRID_OK = 0;
inline constexpr int GRID_REFUSED = 1;

// Window styles the grid understands when it is created or attached.
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
inline constexpr DWORD WS_TABSTOP = 0x00010000;

// The popup menu is tracked with the right mouse button.
inline constexpr UINT TPM_RIGHTBUTTON = 0x0002;

// Where a mouse position falls: the spot handed to the popup hooks.
inline constexpr int GRID_SPOT_NONE = 0;            // outside every cell and heading
inline constexpr int GRID_SPOT_CELLS = 1;           // the cell area
inline constexpr int GRID_SPOT_COLUMN_HEADING = 2;  // the header row (row -1)
inline constexpr int GRID_SPOT_ROW_HEADING = 3;     // the row-header columns (column < 0)
inline constexpr int GRID_SPOT_CORNER = 4;          // where the header row meets the row headers

// How the operator may size columns by dragging a border in the header row.
inline constexpr int GRID_SIZING_FIXED = 0;     // borders cannot be dragged
inline constexpr int GRID_SIZING_TRACKING = 1;  // width follows, a tracking line is drawn
inline constexpr int GRID_SIZING_LIVE = 2;      // width follows with a full repaint, no line

// Popup commands from this id up reach OnPopupCommand; every command is also routed on.
inline constexpr UINT GRID_FIRST_HOOKED_COMMAND = 1000;
// AppendPopupItem with this id (or with an empty text) appends a separator.
inline constexpr UINT GRID_POPUP_SEPARATOR = static_cast<UINT>(-1);

// Row heights are kept per row up to this many rows; larger grids use one height for all.
inline constexpr int GRID_MAX_ROWS_WITH_OWN_HEIGHT = 64000;

// Limits that keep a mistaken count from exhausting memory.
inline constexpr int GRID_MAX_ROWS = 10'000'000;
inline constexpr int GRID_MAX_COLUMNS = 16384;
inline constexpr int GRID_MAX_ROW_HEADER_WIDTH = 1024;
inline constexpr int GRID_MAX_ROW_HEADER_COLUMNS = 64;
inline constexpr int GRID_MAX_SIZE = 32767;  // widths and heights, in pixels

// Sizes a new grid starts with.
inline constexpr int GRID_DEFAULT_COLUMN_WIDTH = 80;
inline constexpr int GRID_DEFAULT_ROW_HEIGHT = 20;
inline constexpr int GRID_DEFAULT_HEADER_HEIGHT = 20;
inline constexpr int GRID_DEFAULT_ROW_HEADER_WIDTH = 40;
