// The main window's row tiles: for each row a square of the list's small-image
// size, white, with a system icon drawn at an offset, white being the
// transparent colour. A fill makes its tiles anew in the window's image list
// and the list view shows them.
#pragma once

#include "platform/WindowsHeaders.h"

#include <vector>

#include "platform/Controls.h"
#include "platform/ImageListComponent.h"
#include "unitOrvCSysImageList.h"

namespace velmora {

// A tile's side and where its icon starts, in pixels, and the window's DPI they
// are for.
struct TTileGeometry {
    int Size;
    int IconOffset;
    int Dpi;
};

class TOrvTileSet {
public:
    // images: the list the tiles go into, made anew at every fill; list: the
    // list view that shows it.
    TOrvTileSet(TImageListComponent& images, TListView& list) : images_(images), list_(list) {}

    // One tile per system icon of tileIcons, in order, in a new image list:
    // nothing is kept from an earlier fill. Tiles that show the same icon are
    // drawn once. Answers each tile's image index; -1 for the tiles from the
    // first the image list refused on.
    std::vector<int> Fill(const TOrvCSysImageList& icons, std::vector<int> tileIcons, const TTileGeometry& geometry);
    // The same tiles again at another geometry, at the same image indexes. The
    // list view, given the new list, takes its size for the row height; before
    // the first fill the list is empty.
    void Redraw(const TTileGeometry& geometry);

private:
    std::vector<int> Draw(const TTileGeometry& geometry);

    TImageListComponent& images_;
    TListView& list_;
    const TOrvCSysImageList* icons_ = nullptr;
    // The system icon each image shows, in image order.
    std::vector<int> tileIcons_;
};

}  // namespace velmora
