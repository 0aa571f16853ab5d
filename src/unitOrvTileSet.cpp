#include "unitOrvTileSet.h"

#include <algorithm>
#include <map>

#include "platform/Text.h"

namespace velmora {

namespace {

// Tiles that go into the image list with one call.
constexpr std::size_t kTilesPerStrip = 256;

// Pixels of 32 bits, rows bottom-up, as the tiles are drawn and as a strip of
// tiles goes into the image list.
BITMAPINFO PixelsInfo(int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

int SystemDpi() {
    const unique_screen_dc screen(GetDC(nullptr));
    return screen ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
}

// A drawn tile as the image list takes it: every pure white pixel transparent
// (and black in the image), all others opaque. Colour rows bottom-up; mask rows
// top-down, a set bit for a transparent pixel, each row padded to whole bytes.
struct TTile {
    std::vector<DWORD> Colour;
    std::vector<BYTE> Mask;
};

int MaskRowBytes(int size) { return (size + 7) / 8; }

// Draws the tiles of one geometry on one scratch bitmap with a memory DC, each
// icon once.
class TTilePainter {
public:
    TTilePainter(const TOrvCSysImageList& icons, const TTileGeometry& geometry)
        : icons_(icons), size_(geometry.Size), iconOffset_(geometry.IconOffset) {
        // The shell's small icons come at the system's DPI, the tiles at the
        // window's: where the two differ (monitors at different scales), an
        // icon is drawn at the size that keeps its share of the tile.
        const int systemDpi = SystemDpi();
        iconSize_ = systemDpi > 0 ? MulDiv(icons.Width(), geometry.Dpi, systemDpi) : icons.Width();
        const BITMAPINFO info = PixelsInfo(size_, size_);
        dc_.reset(CreateCompatibleDC(unique_screen_dc(GetDC(nullptr)).get()));
        bitmap_.reset(
            CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&pixels_), nullptr, 0));
        if (!dc_ || !bitmap_) throw Exception(u"Out of system resources");
        SelectObject(dc_.get(), bitmap_.get());
    }

    const TTile* Tile(int icon) {
        auto found = drawn_.find(icon);
        if (found == drawn_.end()) {
            RECT all = {0, 0, size_, size_};
            FillRect(dc_.get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            if (icons_.Width() == iconSize_ || !DrawScaled(icon))
                icons_.Draw(dc_.get(), iconOffset_, iconOffset_, icon, true);
            found = drawn_.emplace(icon, Capture()).first;
        }
        return &found->second;
    }

private:
    bool DrawScaled(int icon) {
        const HICON image = ImageList_GetIcon(icons_.Handle(), icon, ILD_TRANSPARENT);
        if (!image) return false;
        const scope_exit destroy([image] { DestroyIcon(image); });
        return DrawIconEx(dc_.get(), iconOffset_, iconOffset_, image, iconSize_, iconSize_, 0, nullptr, DI_NORMAL) !=
               FALSE;
    }

    // The tile as drawn so far; the scratch bitmap itself stays as it is.
    TTile Capture() {
        GdiFlush();
        const int rowBytes = MaskRowBytes(size_);
        TTile tile{std::vector<DWORD>(pixels_, pixels_ + size_ * size_),
                   std::vector<BYTE>(static_cast<std::size_t>(rowBytes * size_), 0)};
        for (int i = 0; i < size_ * size_; ++i) {
            DWORD& colour = tile.Colour[static_cast<std::size_t>(i)];
            if ((colour & 0xFFFFFF) != 0xFFFFFF) continue;
            colour = 0;
            const int x = i % size_, maskRow = size_ - 1 - i / size_;
            tile.Mask[static_cast<std::size_t>(maskRow * rowBytes + x / 8)] |= static_cast<BYTE>(0x80 >> (x % 8));
        }
        return tile;
    }

    const TOrvCSysImageList& icons_;
    int size_;
    int iconOffset_;
    int iconSize_;
    DWORD* pixels_ = nullptr;
    unique_hbitmap bitmap_;
    // Deleted before the bitmap selected into it, which that lets go.
    unique_hdc dc_;
    std::map<int, TTile> drawn_;
};

// Adds the tiles to the image list in order, many side by side in one bitmap
// and its mask per call: the image list's cost is mostly per call and per
// bitmap it takes, hardly per pixel. Each tile's mask rows are copied whole
// where a tile's width is whole bytes of the strip's mask, bit by bit
// otherwise. Answers each tile's image index; from a strip the list refuses
// on, -1.
std::vector<int> AddTiles(HIMAGELIST images, const std::vector<const TTile*>& tiles, int size) {
    std::vector<int> tileImage(tiles.size(), -1);
    const unique_screen_dc screen(GetDC(nullptr));
    for (std::size_t first = 0; first < tiles.size(); first += kTilesPerStrip) {
        const std::size_t count = std::min(kTilesPerStrip, tiles.size() - first);
        const int width = static_cast<int>(count) * size;
        // Monochrome rows, top-down, are padded to 16 bits; a set bit marks a
        // transparent pixel. Colour rows run bottom-up, like the tiles'.
        const int stride = ((width + 15) / 16) * 2;
        std::vector<BYTE> maskBits(static_cast<std::size_t>(stride * size), 0);
        std::vector<DWORD> colour(static_cast<std::size_t>(width * size));
        const int rowBytes = MaskRowBytes(size);
        for (std::size_t k = 0; k < count; ++k) {
            const TTile& tile = *tiles[first + k];
            for (int y = 0; y < size; ++y) {
                const std::size_t from = static_cast<std::size_t>(y * size);
                const std::size_t to = static_cast<std::size_t>(y * width) + k * static_cast<std::size_t>(size);
                std::copy_n(tile.Colour.begin() + static_cast<std::ptrdiff_t>(from), size,
                            colour.begin() + static_cast<std::ptrdiff_t>(to));
                const BYTE* mask = &tile.Mask[static_cast<std::size_t>(y * rowBytes)];
                BYTE* row = &maskBits[static_cast<std::size_t>(y * stride)];
                if (size % 8 == 0) {
                    std::copy_n(mask, rowBytes, row + k * static_cast<std::size_t>(rowBytes));
                    continue;
                }
                for (int x = 0; x < size; ++x) {
                    if (!(mask[x / 8] & (0x80 >> (x % 8)))) continue;
                    const int column = static_cast<int>(k) * size + x;
                    row[column / 8] |= static_cast<BYTE>(0x80 >> (column % 8));
                }
            }
        }
        const unique_hbitmap strip(CreateCompatibleBitmap(screen.get(), width, size));
        const unique_hbitmap mask(CreateBitmap(width, size, 1, 1, maskBits.data()));
        const BITMAPINFO info = PixelsInfo(width, size);
        const int index = strip && mask &&
                                  SetDIBits(screen.get(), strip.get(), 0, static_cast<UINT>(size), colour.data(), &info,
                                            DIB_RGB_COLORS)
                              ? ImageList_Add(images, strip.get(), mask.get())
                              : -1;
        if (index < 0) break;
        for (std::size_t k = 0; k < count; ++k) tileImage[first + k] = index + static_cast<int>(k);
    }
    return tileImage;
}

}  // namespace

std::vector<int> TOrvTileSet::Fill(const TOrvCSysImageList& icons, std::vector<int> tileIcons,
                                   const TTileGeometry& geometry) {
    icons_ = &icons;
    tileIcons_ = std::move(tileIcons);
    const std::vector<int> tileImage = Draw(geometry);
    // What each image shows, for drawing the tiles again: the tiles went in in
    // order, from the first.
    tileIcons_.resize(
        static_cast<std::size_t>(std::count_if(tileImage.begin(), tileImage.end(), [](int i) { return i >= 0; })));
    return tileImage;
}

void TOrvTileSet::Redraw(const TTileGeometry& geometry) { Draw(geometry); }

std::vector<int> TOrvTileSet::Draw(const TTileGeometry& geometry) {
    // A new list with room for every tile: a list that grows as tiles come is
    // copied whole each time. The list view lets go of the old one first.
    list_.SetSmallImages(nullptr);
    const int capacity = static_cast<int>(std::min<std::size_t>(tileIcons_.size(), 0xFFFF));
    if (!images_.Create(geometry.Size, geometry.Size, ILC_COLORDDB | ILC_MASK, capacity)) {
        // Without a new one, the old list is emptied (a new size removes every image).
        ImageList_SetIconSize(images_.Handle(), geometry.Size, geometry.Size);
    }
    list_.SetSmallImages(images_.Handle());
    if (tileIcons_.empty() || !icons_) return {};
    TTilePainter painter(*icons_, geometry);
    std::vector<const TTile*> tiles;
    tiles.reserve(tileIcons_.size());
    for (const int icon : tileIcons_) tiles.push_back(painter.Tile(icon));
    return AddTiles(images_.Handle(), tiles, geometry.Size);
}

}  // namespace velmora
