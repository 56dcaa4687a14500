#pragma once

// The front end's colour scheme, "skin/uicolors/UIColors.uic": four COLORREF values
// (0x00BBGGRR) that every skinned window draws with.

#include <cstdint>
#include <string>
#include <string_view>

struct tagKvUiColors
{
    uint32_t clrDlgBK = 3947580;    // dialog background, grey 60
    uint32_t clrDlgEdge = 10526880; // dialog edge, grey 160
    uint32_t clrCtrlBK = 6579300;   // control background, grey 100
    uint32_t clrText = 200;
};

// Reads the scheme file at path over colors. The root's "selID" picks the entries
// whose "nID" matches; the last matching entry wins. A missing or unreadable file
// leaves colors as they are and returns false.
bool LoadUiColors(const std::string& path, tagKvUiColors& colors);
// The same over the bytes of a scheme file.
bool ParseUiColors(std::string_view bytes, tagKvUiColors& colors);
