// Mends a damaged LevelDB database directory so that it opens again, keeping every record that
// can still be read and never one that was altered.
//
// LevelDB's own repair rebuilds the database from its table files, which it reads verifying
// checksums, and from its log files, which it reads without: a log record with a damaged byte
// would come back as an altered value. So each log is first scrubbed: every record whose
// checksum fails is marked with a record type the log reader skips. The log format it reads: the
// file is a run of 32 KiB blocks, each a run of records of a 7-byte header (masked CRC-32C of the
// type byte and the payload, 16-bit little-endian payload length, type) and the payload; a block
// tail shorter than a header is padding.
#pragma once

#include <string>

namespace leveldb {
struct Options;
class Status;
}  // namespace leveldb

namespace libkestrun {

leveldb::Status repair_leveldb(const std::string& path, const leveldb::Options& options);

}  // namespace libkestrun
