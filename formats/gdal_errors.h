// GDAL's error messages caught in one place, for the raster reader and
// writer (formats/gdal_raster.cpp) and the vector files (export/).
//
//   GdalErrors   while it lives, GDAL's messages on the calling thread are
//                caught, never printed, and the first failure is kept
//
// GDAL reports problems through an error handler, not through return values
// alone. A GdalErrors pushes a handler on the calling thread's handler stack
// (GDAL keeps one per thread), so threads never see each other's messages
// and nothing reaches the console. The handler is called from GDAL's C code:
// it never throws.
#pragma once

#include <cpl_error.h>

#include <string>

class GdalErrors {
 public:
  // What counts as a failure: errors (the default), or warnings too (a
  // JPEG cut short while pixels are read, a creation option refused).
  enum class From { errors, warnings };

  explicit GdalErrors(From from = From::errors) : least_(from == From::warnings ? CE_Warning : CE_Failure) {
    CPLPushErrorHandlerEx(&GdalErrors::handler, this);
    CPLErrorReset();
  }
  ~GdalErrors() { CPLPopErrorHandler(); }
  GdalErrors(const GdalErrors&) = delete;
  GdalErrors& operator=(const GdalErrors&) = delete;

  bool failed() const { return failed_; }
  // The first failure's message, "" when GDAL said nothing.
  const std::string& message() const { return message_; }
  // The first failure's message, or `otherwise` when GDAL said nothing.
  std::string reason(const std::string& otherwise) const { return message_.empty() ? otherwise : message_; }
  // "`what`: " and GDAL's last message, or `what` alone when there is none.
  static std::string last(const std::string& what) {
    const char* said = CPLGetLastErrorMsg();
    return said && *said ? what + ": " + said : what;
  }

 private:
  static void CPL_STDCALL handler(CPLErr level, CPLErrorNum, const char* text) {
    auto* self = static_cast<GdalErrors*>(CPLGetErrorHandlerUserData());
    if (!self || level < self->least_) return;
    try {
      if (!self->failed_ && text) self->message_ = text;
    } catch (...) {  // no memory for the message: the failure is still kept
    }
    self->failed_ = true;
  }

  CPLErr least_;
  bool failed_ = false;
  std::string message_;
};
