// A control's rectangle as the window lays it out: left, top, width, height in
// pixels of the parent's client area. Sizes may come out zero or negative.
#pragma once

namespace velmora {

struct TBounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool operator==(const TBounds& other) const {
        return Left == other.Left && Top == other.Top && Width == other.Width && Height == other.Height;
    }
};

}  // namespace velmora
