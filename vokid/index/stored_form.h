// What every stored record of the index shares: the format version it is
// written in, its checksum, and how damage found in it is reported.
//
// Format version 2 ends every track record and stored sequence with the
// CRC-32 of its track id and its bytes, checked whenever it is read: a
// record moved under another key fails as surely as one whose bytes
// changed. Version 1 (indexes made before checksums) has none; its
// records are read as they are. Version 3 adds to the track record the
// album and the FileFloat values of the file's beginning (track_info.h);
// its sequences are version 2's. Version 4 packs the sequences
// (track_print.h) and keeps the postings by word bucket
// (lmdb/posting_layout.h); its track records are version 3's.
#ifndef VOKID_INDEX_STORED_FORM_H
#define VOKID_INDEX_STORED_FORM_H

#include <cstdint>
#include <string>
#include <string_view>

#include "vokid/index/index_error.h"

namespace vokid {

constexpr uint32_t kStoredForm = 4; // written by this vokid
constexpr uint32_t kOldestForm = 1; // the oldest it reads

// The CRC-32 of IEEE 802.3 (reflected, polynomial 0xEDB88320) of `bytes`,
// continued from `crc`, the CRC of the bytes before them (0 for none).
uint32_t crc32(std::string_view bytes, uint32_t crc = 0);

// The CRC-32 of a track id (4 bytes, little-endian) followed by `bytes`.
uint32_t recordCrc(uint32_t id, std::string_view bytes);

// "the index is damaged: WHAT": the one form of every report of damage,
// so that the line a user sees names the folder and says so.
IndexDamaged damaged(const std::string &what);

} // namespace vokid

#endif
