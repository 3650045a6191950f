// Streaming decoders of the zip compression methods that firmware packages
// use, fed piece by piece with the decrypted entry.
#pragma once

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstddef>
#include <cstdint>
#include <memory>

struct InflateEnd {
  void operator()(z_stream* stream) const;
};
struct Bzip2End {
  void operator()(bz_stream* stream) const;
};
struct LzmaEnd {
  void operator()(lzma_stream* stream) const;
};
struct ZstdFree {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// One decoder; only the handle of its method is set.
struct EntryDecoder {
  uint16_t method = 0;
  uint64_t size = 0;  // the declared uncompressed size
  std::unique_ptr<z_stream, InflateEnd> deflate;
  std::unique_ptr<bz_stream, Bzip2End> bzip2;
  std::unique_ptr<lzma_stream, LzmaEnd> lzma;
  std::unique_ptr<ZSTD_DCtx, ZstdFree> zstd;
  bool lzma_started = false;  // the zip LZMA header has been read
  bool finished = false;  // the compressed stream has ended
};

bool entry_method_supported(uint16_t method);

// Prepares a decoder for `method` and the declared uncompressed size. False
// when the method is not supported or the library cannot start one.
bool open_entry_decoder(uint16_t method, uint64_t size, EntryDecoder* decoder);

// Decodes `count` bytes into out[*produced, capacity), advancing *produced.
// `last` marks the final piece. False on corrupt data or when the output does
// not fit. Bytes after the end of the compressed stream are ignored. For LZMA
// the first piece holds at least the zip LZMA header (9 bytes).
bool feed_entry_decoder(EntryDecoder* decoder, const uint8_t* in, std::size_t count, bool last, uint8_t* out,
                        std::size_t capacity, std::size_t* produced);
