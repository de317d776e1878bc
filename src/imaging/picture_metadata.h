#pragma once
// EXIF and IPTC facts of a JPEG or PNG picture: the few tags and datasets
// that text macros show. Every reader is bounded by its block; damaged data
// gives empty fields, never an exception.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "foundation/stream.h"

namespace lum {

struct TExifFacts {
  bool found = false;            // a readable EXIF block was present
  std::string userComment;       // 0x9286, decoded per its charset header
  std::string imageDescription;  // 0x010E
  std::string dateTime;          // 0x0132 as stored ("YYYY:MM:DD HH:MM:SS")
  std::string dateTimeOriginal;  // 0x9003, when the picture was taken, same form
  int orientation = 0;           // 0x0112, 1..8; 0 when absent or out of range
};

// IPTC record 2 datasets we keep, by number, first value of each, as UTF-8.
using TIptcFacts = std::map<int, std::string>;

struct TPictureMetadata {
  TExifFacts exif;
  TIptcFacts iptc;
};

// IPTC record 2 datasets the readers keep (others are skipped).
inline constexpr int kIptcDocumentTitle = 5;
inline constexpr int kIptcSpecialInstructions = 40;
inline constexpr int kIptcByline = 80;
inline constexpr int kIptcBylineTitle = 85;
inline constexpr int kIptcCity = 90;
inline constexpr int kIptcSublocation = 92;
inline constexpr int kIptcProvinceState = 95;
inline constexpr int kIptcCountry = 101;
inline constexpr int kIptcTransmissionReference = 103;
inline constexpr int kIptcHeadline = 105;
inline constexpr int kIptcCredit = 110;
inline constexpr int kIptcSource = 115;
inline constexpr int kIptcCopyright = 116;
inline constexpr int kIptcCaption = 120;
inline constexpr int kIptcCaptionWriter = 122;

// JPEG: walks the markers up to the image data and reads the first APP1
// EXIF block and the APP13 resource block (segments of it joined). PNG: see
// ReadPngMetadata. Any other stream gives empty facts.
TPictureMetadata ReadPictureMetadata(TStream& stream);
TPictureMetadata ReadPictureMetadata(std::string_view picture);

// The chunks of a PNG after its signature, up to IEND: EXIF from eXIf (else
// from a tool's "Raw profile type exif" text), IPTC from "Raw profile type
// iptc"; where EXIF lacks them, the text keywords "Comment" and
// "Description" and the time ("Creation Time" text, else tIME) as EXIF
// writes it. Chunks are read only up to 1 MB each, others stepped over.
void ReadPngMetadata(TStream& stream, TPictureMetadata& meta);
// Reads until count bytes or the end (streams may answer in pieces).
size_t ReadFull(TStream& s, void* buffer, size_t count);

// The TIFF structure of an EXIF block (after "Exif\0\0"): IFD0 and the EXIF sub-IFD.
TExifFacts ParseExifTiff(std::string_view tiff);
// Photoshop image resources (after "Photoshop 3.0\0"): the IPTC resource 0x0404.
TIptcFacts ParseIptcResources(std::string_view resources);
// Bare IPTC IIM records.
TIptcFacts ParseIptcRecords(std::string_view iim);

// Strict UTF-8 check (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsValidUtf8(std::string_view s);

}  // namespace lum
