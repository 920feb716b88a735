// The program data loader's free functions and the dropped-file step of the
// main window, kept free of the window so the window only forwards paths.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class TFlashWrRXCont;

// Hexadecimal digits, most significant first; any other character counts as
// the digit 0 but keeps its place; "" gives 0. Wraps past 8 digits.
int32_t HexStrToInt(const std::string& text);

// The lines of a text file (LF, CR LF or CR); false when it cannot be read.
bool ReadTextLines(const std::string& fileName, std::vector<std::string>& lines);

// What the main window does with a drop: loads the first of the dropped files
// (full paths, never shortened) and writes "OK: Read ROM Data" or
// "NG: Read ROM Data" as an always line. Returns the name taken, which the
// window keeps as FDropFileName; an empty list or name loads and logs nothing.
std::string LoadDroppedFiles(TFlashWrRXCont& cont, const std::vector<std::string>& fullPaths);
