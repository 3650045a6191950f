#include "firmware/entry_decoder.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "firmware/winzip_aes.h"
#include "util/bytes.h"

void InflateEnd::operator()(z_stream* stream) const {
  inflateEnd(stream);
  delete stream;
}

void Bzip2End::operator()(bz_stream* stream) const {
  BZ2_bzDecompressEnd(stream);
  delete stream;
}

void LzmaEnd::operator()(lzma_stream* stream) const {
  lzma_end(stream);
  delete stream;
}

namespace {

// The zip LZMA header: 2 bytes of encoder version, 2 bytes of properties
// size (always 5), then the properties.
constexpr std::size_t LZMA_HEADER_SIZE = 9;
constexpr std::size_t LZMA_PROPERTIES_SIZE = 5;
constexpr int ZSTD_WINDOW_LOG_MAX = 24;

// Room the 32-bit counts of zlib and libbz2 can take.
unsigned int room(std::size_t count) { return static_cast<unsigned int>(std::min<std::size_t>(count, UINT_MAX)); }

bool feed_stored(EntryDecoder* decoder, const uint8_t* in, std::size_t count, bool last, uint8_t* out,
                 std::size_t capacity, std::size_t* produced) {
  if (count > capacity - *produced) return false;
  std::memcpy(out + *produced, in, count);
  *produced += count;
  decoder->finished = last;
  return true;
}

bool feed_deflate(z_stream* stream, const uint8_t* in, std::size_t count, uint8_t* out, std::size_t capacity,
                  std::size_t* produced, bool* finished) {
  stream->next_in = const_cast<uint8_t*>(in);  // zlib's interface is not const, it does not write
  stream->avail_in = room(count);
  while (stream->avail_in > 0) {
    stream->next_out = out + *produced;
    stream->avail_out = room(capacity - *produced);
    const int result = inflate(stream, Z_NO_FLUSH);
    *produced = static_cast<std::size_t>(stream->next_out - out);
    if (result == Z_STREAM_END) {
      *finished = true;
      return true;
    }
    if (result != Z_OK || stream->avail_out == 0) return false;
  }
  return true;
}

bool feed_bzip2(bz_stream* stream, const uint8_t* in, std::size_t count, uint8_t* out, std::size_t capacity,
                std::size_t* produced, bool* finished) {
  stream->next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(in));
  stream->avail_in = room(count);
  while (stream->avail_in > 0) {
    stream->next_out = reinterpret_cast<char*>(out + *produced);
    stream->avail_out = room(capacity - *produced);
    const int result = BZ2_bzDecompress(stream);
    *produced = static_cast<std::size_t>(reinterpret_cast<uint8_t*>(stream->next_out) - out);
    if (result == BZ_STREAM_END) {
      *finished = true;
      return true;
    }
    if (result != BZ_OK || stream->avail_out == 0) return false;
  }
  return true;
}

// Starts the raw LZMA decoder from the zip LZMA header. The declared size
// ends the stream; an end marker after it is accepted too.
bool start_lzma(EntryDecoder* decoder, const uint8_t* header) {
  if (get_le16(header, 2) != LZMA_PROPERTIES_SIZE) return false;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, header + 4, LZMA_PROPERTIES_SIZE) != LZMA_OK) return false;
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  // The dictionary is allocated whole up front; more than the output needs
  // is never used, and a damaged header may ask for 4 GiB.
  options->dict_size =
      static_cast<uint32_t>(std::clamp<uint64_t>(decoder->size, LZMA_DICT_SIZE_MIN, options->dict_size));
  lzma_set_ext_size(*options, decoder->size);
  const lzma_ret started = lzma_raw_decoder(decoder->lzma.get(), filters);
  free(options);  // allocated by lzma_properties_decode with the default allocator
  decoder->lzma_started = started == LZMA_OK;
  return decoder->lzma_started;
}

bool feed_lzma(EntryDecoder* decoder, const uint8_t* in, std::size_t count, bool last, uint8_t* out,
               std::size_t capacity, std::size_t* produced) {
  if (!decoder->lzma_started) {
    if (count < LZMA_HEADER_SIZE || !start_lzma(decoder, in)) return false;
    in += LZMA_HEADER_SIZE;
    count -= LZMA_HEADER_SIZE;
  }
  lzma_stream* stream = decoder->lzma.get();
  stream->next_in = in;
  stream->avail_in = count;
  // After the last piece the decoder is run until it reaches the end, which
  // may still lie in its own buffers.
  while (stream->avail_in > 0 || last) {
    stream->next_out = out + *produced;
    stream->avail_out = capacity - *produced;
    const lzma_ret result = lzma_code(stream, last ? LZMA_FINISH : LZMA_RUN);
    *produced = static_cast<std::size_t>(stream->next_out - out);
    if (result == LZMA_STREAM_END) {
      decoder->finished = true;
      return true;
    }
    if (result != LZMA_OK || stream->avail_out == 0) return false;
  }
  return true;
}

bool feed_zstd(ZSTD_DCtx* context, const uint8_t* in, std::size_t count, uint8_t* out, std::size_t capacity,
               std::size_t* produced, bool* finished) {
  ZSTD_inBuffer input = {in, count, 0};
  while (input.pos < input.size) {
    ZSTD_outBuffer output = {out, capacity, *produced};
    const std::size_t result = ZSTD_decompressStream(context, &output, &input);
    *produced = output.pos;
    if (ZSTD_isError(result)) return false;
    if (result == 0) {
      *finished = true;
      return true;
    }
    if (output.pos == output.size) return false;
  }
  return true;
}

}  // namespace

bool entry_method_supported(uint16_t method) {
  return method == ZIP_METHOD_STORED || method == ZIP_METHOD_DEFLATE || method == ZIP_METHOD_BZIP2 ||
         method == ZIP_METHOD_LZMA || method == ZIP_METHOD_ZSTD;
}

bool open_entry_decoder(uint16_t method, uint64_t size, EntryDecoder* decoder) {
  decoder->method = method;
  decoder->size = size;
  switch (method) {
    case ZIP_METHOD_STORED:
      return true;
    case ZIP_METHOD_DEFLATE: {
      auto stream = std::make_unique<z_stream>();
      if (inflateInit2(stream.get(), -MAX_WBITS) != Z_OK) return false;  // raw deflate, no zlib wrapper
      decoder->deflate.reset(stream.release());
      return true;
    }
    case ZIP_METHOD_BZIP2: {
      auto stream = std::make_unique<bz_stream>();
      if (BZ2_bzDecompressInit(stream.get(), 0, 0) != BZ_OK) return false;
      decoder->bzip2.reset(stream.release());
      return true;
    }
    case ZIP_METHOD_LZMA:
      // The decoder itself starts once the properties have arrived.
      decoder->lzma.reset(new lzma_stream(LZMA_STREAM_INIT));
      return true;
    case ZIP_METHOD_ZSTD:
      decoder->zstd.reset(ZSTD_createDCtx());
      // A window of 16 MiB covers the largest image; larger frames are refused
      // rather than allocated.
      return decoder->zstd &&
             !ZSTD_isError(ZSTD_DCtx_setParameter(decoder->zstd.get(), ZSTD_d_windowLogMax, ZSTD_WINDOW_LOG_MAX));
    default:
      return false;
  }
}

bool feed_entry_decoder(EntryDecoder* decoder, const uint8_t* in, std::size_t count, bool last, uint8_t* out,
                        std::size_t capacity, std::size_t* produced) {
  if (decoder->finished) return true;
  switch (decoder->method) {
    case ZIP_METHOD_STORED:
      return feed_stored(decoder, in, count, last, out, capacity, produced);
    case ZIP_METHOD_DEFLATE:
      return feed_deflate(decoder->deflate.get(), in, count, out, capacity, produced, &decoder->finished);
    case ZIP_METHOD_BZIP2:
      return feed_bzip2(decoder->bzip2.get(), in, count, out, capacity, produced, &decoder->finished);
    case ZIP_METHOD_LZMA:
      return feed_lzma(decoder, in, count, last, out, capacity, produced);
    case ZIP_METHOD_ZSTD:
      return feed_zstd(decoder->zstd.get(), in, count, out, capacity, produced, &decoder->finished);
    default:
      return false;
  }
}
