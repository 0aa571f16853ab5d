// The main window: its description (controls and properties), its handlers and
// the list fill. The steps of the uninstall command and of the hand-off merge,
// which need no window, are in frmOrvUninstallMainLogic.
#pragma once

#include "platform/WindowsHeaders.h"

#include <memory>
#include <vector>

#include "frmOrvUninstallMainLogic.h"
#include "platform/Application.h"
#include "platform/Controls.h"
#include "platform/ImageListComponent.h"
#include "unitOrvCSysImageList.h"
#include "unitOrvTileSet.h"
#include "unitOrvUninstallClasses.h"

namespace velmora {

class TOrvUninstallMainForm : public TForm {
public:
    // Builds the window from its description, then runs FormCreate under the
    // application's guard.
    TOrvUninstallMainForm();
    // Hides the window, runs FormDestroy under the guard, then destroys the
    // controls, SysImageList and ImageList.
    ~TOrvUninstallMainForm() override;

    HWND Handle() const override { return hwnd_.get(); }
    void ShowFirst(int showCommand) override;

    // The controls and the image list of the description, made when it is loaded.
    TLabel Label1;
    TListView ListView;
    TButton UninstallButton;
    TButton ExitButton;
    TImageListComponent ImageList;
    // The rows' tiles, in ImageList.
    TOrvTileSet Tiles{ImageList, ListView};

    void FormCreate();
    void FormDestroy();
    void FormResize();
    void ExitButtonClick();
    void UninstallButtonClick();

    // With the companion's run started ahead, or starting it now.
    void MergeHandOffInventory(THandOffRun* startedAhead = nullptr);
    void PopulateList();

    // A close request: the main window ends the application instead of hiding.
    void Close();
    // Gives the keyboard to the list (now if the window is active, else when it
    // is activated next).
    void FocusList();

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void LoadDescription();
    void OnCommand(WPARAM wParam, LPARAM lParam);
    void FocusControl();
    void OnDpiChanged(WPARAM wParam, LPARAM lParam);
    // The window's font for the controls; redrawn unless the description is loading.
    void SetControlsFont(HFONT font);

    // Every pixel size of the description is designed at 96 pixels per inch;
    // the window shows it scaled to the DPI of its monitor.
    int Scaled(int designPixels) const;
    TBounds Scaled(const TBounds& design) const;
    // Font, control bounds, column widths and row tiles for a DPI, before the
    // layout runs for the window's size.
    void ScaleTo(int dpi);
    // The tiles' geometry at the window's DPI.
    TTileGeometry TileGeometry() const;

    unique_hfont font_;
    HWND lastFocus_ = nullptr;
    int dpi_ = 96;
    bool loading_ = false;
    bool resized_ = false;
    bool firstShown_ = false;

    std::unique_ptr<TOrvCSysImageList> SysImageList;
    std::unique_ptr<TOrvUninstallReader> UninstallReader;

    // Declared last, so destroyed first: the controls go with the window before
    // SysImageList, and that before ImageList.
    unique_object_hwnd hwnd_;
};

}  // namespace velmora
