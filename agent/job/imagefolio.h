// What the agent knows of ImageFolio, the outside picture application it can
// hand a saved picture to: its main window's class, the title it gives a
// picture's window, and the command that brings the picture forward. Shared
// with the stand-in ImageFolio of the tests. Portable: no Windows header.
#pragma once

#define IMAGEFOLIO_MAIN_CLASS "RodozeImageFolioMainWndClass"
// With the picture's file name, no folder; the blank at the end belongs to it.
#define IMAGEFOLIO_TITLE_FORMAT "%s [x1] "
const unsigned IMAGEFOLIO_SHOW_COMMAND = 30334;
const long IMAGEFOLIO_SHOW_COMMAND_PARAM = 1;
