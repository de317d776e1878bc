#pragma once
// Printing through the CUPS server the environment names (CUPS_SERVER, the
// client configuration, else the local socket): the printer list and one
// picture per job. Every call gives up after a few seconds, so a missing or
// stuck server costs a message, never a hang.
#include <optional>
#include <string>
#include <vector>

#include "imaging/bitmap.h"

namespace lum {

inline constexpr int kPrintTimeoutMs = 5000;
// The name every print job of the player carries.
inline constexpr const char* kPrintJobName = "Slideshow";

struct TPrinterList {
  std::vector<std::string> names;  // in the server's order
  std::string defaultName;         // empty when the server has no default
};

// The server's printers; nothing with a message for the user when the server
// cannot be reached or refuses.
std::optional<TPrinterList> ListPrinters(std::string& error, int timeoutMs = kPrintTimeoutMs);

// Prints the picture as one PNG job named kPrintJobName, fitted to the page,
// in the orientation PrintLandscape chooses, on the printer (empty: the
// server's default). The job id, or nothing with a message for the user (no
// server, no printer, the job refused). The job is handed over, not waited for.
std::optional<int> PrintBitmap(const TBitmap& bitmap, const std::string& printer,
                               std::string& error, int timeoutMs = kPrintTimeoutMs);

// Landscape when the picture is wider than high, portrait otherwise.
bool PrintLandscape(int width, int height);

// The printer chosen in the printer selection for this run of the player;
// empty: the server's default. Window thread.
const std::string& ChosenPrinter();
void SetChosenPrinter(std::string name);

}  // namespace lum
