#pragma once
// The graph window's point files: plain text in the program's code page,
// one point a line, "X;Y" with each number in the general format ("%g"),
// lines ended by CR LF, no header.
#include <span>
#include <string>

namespace chart::engine {
class TChartValueList;
}

namespace graph {

// Writes the points (X[i], Y[i]) straight from the lists, replacing the
// file only once every byte is written: a failure raises and leaves the
// file that was there as it was. Each number has 15 significant digits, or
// as many more as it needs to read back (the largest values).
void WritePointFile(const std::string& FileName, std::span<const double> X, std::span<const double> Y);

// Reads the whole file into X and Y (lists of their own, empty): the points
// in ascending X (points of equal X in file order, as adding them one by
// one keeps them). A line that does not hold two numbers around its first
// semicolon raises "Ошибка в строке %d", two CRs and the reason; more than
// MaxPoints points raise the lists' capacity error; a file that cannot be
// opened raises its own error, and so does anything but a regular file (a
// FIFO, a device), refused without being opened; no memory raises std::bad_alloc. Whatever
// was read stays in X and Y for the caller to drop.
void ReadPointFile(const std::string& FileName, int MaxPoints, chart::engine::TChartValueList& X,
                   chart::engine::TChartValueList& Y);

}  // namespace graph
