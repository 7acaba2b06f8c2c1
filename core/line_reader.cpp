#include "line_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace outline {

void LineReader::open(const char* name) noexcept {
  position_ = end_ = 0;
  if (name[0] == '\0') {
    fd_ = 0;
    return;
  }
  int fd;
  do fd = ::open(name, O_RDONLY | O_LARGEFILE, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return record_errno(errno);
  fd_ = fd;
}

bool LineReader::fill() noexcept {
  position_ = end_ = 0;
  return read_more();
}

bool LineReader::read_more() noexcept {
  if (pending_error != 0) return false;
  for (;;) {
    ssize_t n = ::read(fd_, buffer_ + end_, kBlock);
    if (n >= 0) {
      end_ += static_cast<std::size_t>(n);
      return n > 0;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {
      record_errno(errno);
      return false;
    }
    // A non-blocking descriptor: wait until it has data, then read again.
    pollfd ready{fd_, POLLIN, 0};
    ::poll(&ready, 1, -1);
  }
}

namespace {

// The number of bytes before the first LF or CR, or `available` if there is
// none. May look at up to 15 bytes past `available`.
std::size_t line_length(const char* start, std::size_t available) noexcept {
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  for (std::size_t offset = 0; offset < available; offset += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + offset));
    auto ends = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr))));
    if (ends != 0) {
      std::size_t length = offset + static_cast<std::size_t>(__builtin_ctz(ends));
      return length < available ? length : available;
    }
  }
  return available;
#else
  const void* lf = std::memchr(start, '\n', available);
  std::size_t length = lf ? static_cast<const char*>(lf) - start : available;
  const void* cr = std::memchr(start, '\r', length);
  return cr ? static_cast<const char*>(cr) - start : length;
#endif
}

}  // namespace

std::string_view LineReader::read_line_unchecked() noexcept {
  // Most lines are handed out in place, straight from the buffer.
  std::size_t length = line_length(buffer_ + position_, end_ - position_);
  if (terminator_buffered(length)) return take_line(length);
  return read_line_across_blocks(length);
}

std::string_view LineReader::read_line_across_blocks(std::size_t scanned) noexcept {
  for (;;) {
    std::size_t available = end_ - position_;
    if (available > kBlock) return read_long_line();
    // Move the start of the line to the front and read the next block behind it.
    std::memmove(buffer_, buffer_ + position_, available);
    position_ = 0;
    end_ = available;
    // End of input ends a last line: no read for its end, which could eat later input's first byte.
    if (!read_more()) {
      position_ = end_;
      return {buffer_, scanned};
    }
    scanned += line_length(buffer_ + scanned, end_ - scanned);
    if (terminator_buffered(scanned)) return take_line(scanned);
  }
}

std::string_view LineReader::read_long_line() noexcept {
  long_line_.clear();
  for (;;) {
    if (position_ == end_ && !fill()) return long_line_.view();  // ends a last line, as above
    const char* start = buffer_ + position_;
    std::size_t length = line_length(start, end_ - position_);
    if (!long_line_.append(start, length)) return long_line_.view();
    position_ += length;
    if (position_ < end_) break;
  }
  // Consume the terminator; CR LF counts as one, also across two fills.
  if (buffer_[position_++] == '\n') return long_line_.view();
  if (position_ == end_ && !fill()) return long_line_.view();
  if (buffer_[position_] == '\n') ++position_;
  return long_line_.view();
}

void LineReader::close_unchecked() noexcept {
  if (pending_error != 0) return;
  int fd = fd_;
  fd_ = -1;
  if (fd <= 2) return;
  // Linux releases the descriptor even when close(2) fails with EINTR: a
  // second close could only fail, or close a descriptor opened meanwhile.
  if (::close(fd) != 0 && errno != EINTR) record_errno(errno);
}

}  // namespace outline
