// The one rule by which every stand-in makes the kernel's texts safe to show.
#pragma once

// The character that stands for `c` in a listing's quoted texts and object names: a double
// quote becomes ', a backslash /, and every byte that is not printable ASCII ?, so that no
// text can end its quotes or its line.
inline char listed_char(char c)
{
    if (c == '"')
        return '\'';
    if (c == '\\')
        return '/';
    return c >= ' ' && c <= '~' ? c : '?';
}
