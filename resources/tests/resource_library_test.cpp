// Every resource the agent looks up exists in the built library, in the form
// and size its reader expects.
#include "library_fixture.h"

#include <set>

#include "artwork.h"
#include "resource_ids.h"
#include "ui.h"

namespace {

// The raw image a group icon offers for one size: its header tells the
// size and colour depth actually stored, not a scaled copy.
const BITMAPINFOHEADER *IconImageFor(WORD groupId, int size)
{
    HRSRC group = FindResourceA(ResourceLibrary, MAKEINTRESOURCEA(groupId), (LPCSTR)RT_GROUP_ICON);
    if (!group)
        return nullptr;
    PBYTE directory = (PBYTE)LockResource(LoadResource(ResourceLibrary, group));
    int iconId = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
    HRSRC image = FindResourceA(ResourceLibrary, MAKEINTRESOURCEA(iconId), (LPCSTR)RT_ICON);
    if (!image)
        return nullptr;
    return (const BITMAPINFOHEADER *)LockResource(LoadResource(ResourceLibrary, image));
}

} // namespace

using ResourceLibraryTest = LibraryTest;

TEST_F(ResourceLibraryTest, EveryStringExistsAndFitsItsReader)
{
    for (const ResourceStringReader &s : RESOURCE_STRING_READERS) {
        std::string text = LoadText(s.id);
        EXPECT_FALSE(text.empty()) << "string " << s.id << " is missing";
        EXPECT_LT(text.size(), size_t(s.capacity)) << "string " << s.id << " is cut short: " << text;
    }
}

// The dialogs place the pictures by the sizes the picture generator draws
// them at; the built library must hold exactly those.
TEST_F(ResourceLibraryTest, PicturesHaveTheSizesTheyWereDrawnAt)
{
    const struct {
        WORD id;
        LONG width, height;
    } pictures[] = {
        {IDB_WARNING_SCANNER, art::WARNING_BADGE_SIZE, art::WARNING_BADGE_SIZE},
        {IDB_WARNING_CABLE, art::CABLE_PICTURE_WIDTH, art::CABLE_PICTURE_HEIGHT},
        {IDB_WARNING_POWER, art::POWER_PICTURE_WIDTH, art::POWER_PICTURE_HEIGHT},
        {IDB_INSERT_PAPER, art::INSERT_PAPER_WIDTH, art::INSERT_PAPER_HEIGHT},
    };
    for (const auto &picture : pictures) {
        HBITMAP bitmap = (HBITMAP)LoadImageA(ResourceLibrary, MAKEINTRESOURCEA(picture.id), IMAGE_BITMAP, 0, 0,
                                             LR_CREATEDIBSECTION);
        ASSERT_NE(bitmap, nullptr) << "bitmap " << picture.id;
        DIBSECTION dib = {};
        ASSERT_EQ(GetObjectA(bitmap, sizeof dib, &dib), (int)sizeof dib);
        EXPECT_EQ(dib.dsBm.bmWidth, picture.width) << picture.id;
        EXPECT_EQ(dib.dsBm.bmHeight, picture.height) << picture.id;
        DeleteObject(bitmap);
    }
}

TEST_F(ResourceLibraryTest, TitleAndTipNameTheProduct)
{
    EXPECT_NE(LoadText(IDS_APP_TITLE).find("Velmora"), std::string::npos);
    EXPECT_NE(LoadText(IDS_TRAY_TIP).find("Velmora"), std::string::npos);
}

TEST_F(ResourceLibraryTest, IconsHoldBothSizesAtTheirDepth)
{
    const struct {
        WORD id;
        WORD bits;
    } icons[] = {{IDI_PROGRAM, 4}, {IDI_CONNECTED, 32}, {IDI_NOT_CONNECTED, 32}};
    for (const auto &icon : icons)
        for (int size : {16, 32}) {
            SCOPED_TRACE(testing::Message() << "icon " << icon.id << " at " << size);
            const BITMAPINFOHEADER *header = IconImageFor(icon.id, size);
            ASSERT_NE(header, nullptr);
            EXPECT_EQ(header->biWidth, size);
            EXPECT_EQ(header->biHeight, 2 * size);
            EXPECT_EQ(header->biBitCount, icon.bits);

            HICON loaded = (HICON)LoadImageA(ResourceLibrary, MAKEINTRESOURCEA(icon.id), IMAGE_ICON, size, size, 0);
            ASSERT_NE(loaded, nullptr);
            ICONINFO info = {};
            ASSERT_TRUE(GetIconInfo(loaded, &info));
            BITMAP mask = {};
            GetObjectA(info.hbmMask, sizeof mask, &mask);
            EXPECT_EQ(mask.bmWidth, size);
            DeleteObject(info.hbmMask);
            if (info.hbmColor)
                DeleteObject(info.hbmColor);
            DestroyIcon(loaded);
        }
}

TEST_F(ResourceLibraryTest, TrayMenuHoldsTheFiveCommandsInItsFirstSubmenu)
{
    HMENU menu = LoadMenuA(ResourceLibrary, MAKEINTRESOURCEA(IDM_TRAY));
    ASSERT_NE(menu, nullptr);
    HMENU tray = GetSubMenu(menu, 0);
    ASSERT_NE(tray, nullptr);
    std::set<UINT> direct;
    for (int position = 0; position < GetMenuItemCount(tray); position++)
        direct.insert(GetMenuItemID(tray, position));

    const struct {
        UINT id;
        bool checked;
    } commands[] = {{IDM_CALIBRATE, false}, {IDM_CLEAN, false},  {IDM_SETTINGS, false},
                    {IDM_ENABLE_WARNING, true}, {IDM_EXIT, false}};
    for (const auto &command : commands) {
        SCOPED_TRACE(command.id);
        EXPECT_EQ(direct.count(command.id), 1u) << "not an item of submenu 0 itself";
        char text[64] = "";
        MENUITEMINFOA item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(tray, command.id, FALSE, &item));
        EXPECT_EQ(item.fType & (MFT_SEPARATOR | MFT_BITMAP | MFT_OWNERDRAW), 0u);
        EXPECT_GT(std::string(text).size(), 2u);
        EXPECT_EQ((item.fState & MFS_CHECKED) != 0, command.checked);
        EXPECT_EQ(item.fState & MFS_DISABLED, 0u);
    }
    DestroyMenu(menu);
}

TEST_F(ResourceLibraryTest, TemplatesAreFoundByIdAndOnlyThose)
{
    for (WORD id = IDD_SETTINGS; id <= IDD_PROGRESS; id++)
        EXPECT_NE(LoadDialogTemplate(id), nullptr) << id;
    EXPECT_EQ(LoadDialogTemplate(IDD_PROGRESS + 1), nullptr);
    EXPECT_EQ(LoadDialogTemplate(IDM_TRAY), nullptr) << "a menu is not a dialog";
}
