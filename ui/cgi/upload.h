// upload.h: the file a request uploads (the "upload" part of a
// multipart/form-data body), written as it arrives into an item of the
// working directory (on the root's file system, where a repository is made
// from it), and handed to a job with the item's lock.  Only an action that
// takes an upload (see actions.h) gets one; what no job took is deleted
// when the request ends.
#ifndef SVN_UI_CGI_UPLOAD_H_
#define SVN_UI_CGI_UPLOAD_H_

#include <string>

#include "store/status.h"
#include "store/work_dir.h"
#include "webform.h"

class SVNUpload : public UploadSink {
 public:
  SVNUpload() = default;
  ~SVNUpload() override;

  bool Begin(const std::string& field, const std::string& filename, WebMan& web) override;
  void Data(const char* data, size_t size) override;
  void End(bool complete) override;

  // The item the job gets, made on first use (named after `kind`, the
  // action).
  SVNStatus spool(const char* kind);
  const SVNWorkItem& item() const { return item_; }
  // Whether the request holds an upload, and whether all of it is kept.
  bool started() const { return started_; }
  // What the browser called the file (empty when it named none we take).
  const std::string& filename() const { return filename_; }
  SVNStatus received();
  // Where the upload is kept.
  std::string file() const { return item_.path() + "/upload"; }
  // A job took the item: it is not deleted when the request ends.
  void adopt() { adopted_ = true; }

 private:
  SVNWorkItem item_;
  std::string filename_;
  SVNStatus status_;
  int fd_ = -1;
  bool started_ = false, complete_ = false, adopted_ = false;
};

#endif  // SVN_UI_CGI_UPLOAD_H_
