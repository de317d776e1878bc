#include "ui/printing.h"

#include <cups/cups.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "imaging/image_lib_store.h"

namespace lum {

namespace {

struct THttpCloser {
  void operator()(http_t* http) const { httpClose(http); }
};
using THttp = std::unique_ptr<http_t, THttpCloser>;

struct TIppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using TIpp = std::unique_ptr<ipp_t, TIppDeleter>;

std::string ServerName() {
  const std::string server = cupsServer();
  return server.empty() || server[0] == '/' ? server : server + ":" + std::to_string(ippPort());
}

// A connection whose every read and write gives up after the time-out.
THttp Connect(int timeoutMs, std::string& error) {
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              timeoutMs, nullptr);
  if (!http) {
    error = "No print server could be reached (" + ServerName() + ").";
    return nullptr;
  }
  httpSetTimeout(
      http, timeoutMs / 1000.0, [](http_t*, void*) { return 0; }, nullptr);
  return THttp(http);
}

std::string LastError() {
  // A request given up on by the time-out leaves no status, or errno 0's text.
  const char* text = cupsLastErrorString();
  if (cupsLastError() <= IPP_STATUS_OK_CONFLICTING || !text || !*text ||
      std::strcmp(text, std::strerror(0)) == 0)
    return "no answer in time";
  return text;
}

// The "printer-name" values of a CUPS query; nothing when the request failed
// (a server without printers answers "not found": an empty list).
std::optional<std::vector<std::string>> PrinterNames(http_t* http, ipp_op_t operation,
                                                     std::string& error) {
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "printer-name");
  const TIpp response(cupsDoRequest(http, request, "/"));
  const ipp_status_t status = cupsLastError();
  std::vector<std::string> names;
  if (status == IPP_STATUS_ERROR_NOT_FOUND) return names;
  if (!response || status > IPP_STATUS_OK_CONFLICTING) {
    error = "The print server " + ServerName() + " did not answer: " + LastError();
    return std::nullopt;
  }
  for (ipp_attribute_t* a = ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME); a;
       a = ippFindNextAttribute(response.get(), "printer-name", IPP_TAG_NAME))
    if (const char* name = ippGetString(a, 0, nullptr)) names.emplace_back(name);
  return names;
}

std::optional<TPrinterList> QueryPrinters(http_t* http, std::string& error) {
  auto names = PrinterNames(http, IPP_OP_CUPS_GET_PRINTERS, error);
  if (!names) return std::nullopt;
  auto fallback = PrinterNames(http, IPP_OP_CUPS_GET_DEFAULT, error);
  if (!fallback) return std::nullopt;
  TPrinterList list;
  list.names = std::move(*names);
  if (!fallback->empty()) list.defaultName = fallback->front();
  return list;
}

// A PNG of the picture in the temporary folder, removed with this object.
class TTempPng {
 public:
  explicit TTempPng(const TBitmap& bitmap) {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumprint-XXXXXX.png";
    const int fd = mkstemps(path_.data(), 4);
    if (fd < 0) {
      path_.clear();
      return;
    }
    close(fd);
    if (!WritePng(bitmap, path_)) Remove();
  }
  ~TTempPng() { Remove(); }
  TTempPng(const TTempPng&) = delete;
  TTempPng& operator=(const TTempPng&) = delete;
  const std::string& Path() const { return path_; }

 private:
  void Remove() {
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
  }
  std::string path_;
};

std::string& ChosenPrinterSlot() {
  static std::string name;
  return name;
}

// One Print-Job request on this connection (the library's own job calls
// look the printer up on connections of their own, without our time-out).
std::optional<int> SendJob(http_t* http, const std::string& printer, const std::string& file,
                           const TBitmap& bitmap, std::string& error) {
  char uri[HTTP_MAX_URI];
  const std::string resource = "/printers/" + printer;
  httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                  resource.c_str());
  ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, kPrintJobName);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
               "image/png");
  ippAddInteger(
      request, IPP_TAG_JOB, IPP_TAG_ENUM, "orientation-requested",
      PrintLandscape(bitmap.Width(), bitmap.Height()) ? IPP_ORIENT_LANDSCAPE : IPP_ORIENT_PORTRAIT);
  ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-scaling", nullptr, "fit");
  ippAddBoolean(request, IPP_TAG_JOB, "fit-to-page", 1);
  const TIpp response(cupsDoFileRequest(http, request, resource.c_str(), file.c_str()));
  ipp_attribute_t* id =
      response ? ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER) : nullptr;
  if (!id || cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
    error = LastError();
    return std::nullopt;
  }
  return ippGetInteger(id, 0);
}

}  // namespace

bool PrintLandscape(int width, int height) {
  return width > height;
}

std::optional<TPrinterList> ListPrinters(std::string& error, int timeoutMs) {
  const THttp http = Connect(timeoutMs, error);
  if (!http) return std::nullopt;
  return QueryPrinters(http.get(), error);
}

std::optional<int> PrintBitmap(const TBitmap& bitmap, const std::string& printer,
                               std::string& error, int timeoutMs) {
  const THttp http = Connect(timeoutMs, error);
  if (!http) return std::nullopt;
  std::string destination = printer;
  if (destination.empty()) {
    const auto list = QueryPrinters(http.get(), error);
    if (!list) return std::nullopt;
    destination = list->defaultName.empty() && list->names.size() == 1 ? list->names.front()
                                                                       : list->defaultName;
    if (destination.empty()) {
      error = list->names.empty() ? "No printer is set up on the print server " + ServerName() + "."
                                  : "No default printer is set: choose a printer first.";
      return std::nullopt;
    }
  }
  const TTempPng png(bitmap);
  if (png.Path().empty()) {
    error = "The slide could not be prepared for printing.";
    return std::nullopt;
  }
  const auto job = SendJob(http.get(), destination, png.Path(), bitmap, error);
  if (!job) error = "The slide could not be printed on \"" + destination + "\": " + error;
  return job;
}

const std::string& ChosenPrinter() {
  return ChosenPrinterSlot();
}

void SetChosenPrinter(std::string name) {
  ChosenPrinterSlot() = std::move(name);
}

}  // namespace lum
