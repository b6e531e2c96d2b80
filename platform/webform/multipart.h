// multipart.h: a multipart/form-data body read as it arrives, part by
// part, in bounded memory (RFC 7578, RFC 2046 section 5.1.1).
//
// Form fields are handed over whole; a file part is handed over in pieces
// to whoever takes it, so that its size costs no memory.  Everything that
// is held or thrown away (preamble, part headers, field values, file parts
// nobody takes, epilogue) counts toward a limit.
#ifndef WEBFORM_MULTIPART_H_
#define WEBFORM_MULTIPART_H_

#include <stddef.h>

#include <functional>
#include <string>

// What the reader finds, in the body's order.
class MultipartParts {
 public:
  virtual ~MultipartParts() {}
  // A form field, whole.
  virtual void Field(const std::string& name, const std::string& value) = 0;
  // A file part (its Content-Disposition has a filename, `filename`)
  // begins: true to get its content through FileData, false to leave it
  // ignored (its bytes then count toward the limit).
  virtual bool FileBegin(const std::string& name, const std::string& filename) = 0;
  virtual void FileData(const char* data, size_t size) = 0;
  // The file part taken ends: `complete` false when the body ended (or was
  // refused) before it did.
  virtual void FileEnd(bool complete) = 0;
};

// The boundary of a "multipart/form-data; boundary=..." content type
// (quoted or not, 1 to 70 characters); empty when it has none or the type
// is another.
std::string MultipartBoundary(const std::string& contentType);

// Reads a body of exactly `length` bytes through `read` (which returns the
// count it read into its buffer, 0 at the end) and hands its parts to
// `parts`.  Returns an empty text when the body was well formed, else the
// HTTP status to refuse it with: "413 Payload Too Large" when more than
// `limit` bytes would be held or thrown away (reading stops there), "400
// Bad Request" when it is malformed or ends early.
std::string ReadMultipart(const std::string& boundary, unsigned long long length,
                          const std::function<size_t(char*, size_t)>& read,
                          unsigned long limit, MultipartParts* parts);

#endif  // WEBFORM_MULTIPART_H_
