// The program's own texts, as the dialogue tests expect them on standard
// output: banner, questions, menus and the size report.
#pragma once

#include <string>

namespace testing_support {

inline const std::string kBanner =
    "\n\n\t**************************************************************"
    "\n\t*                                                            *"
    "\n\t*                         SOLVIK                             *"
    "\n\t*                                                            *"
    "\n\t*                              based on O'Gorman algorithm   *"
    "\n\t*                                                            *"
    "\n\t*      thinning of grey-level images into skeletons          *"
    "\n\t*                                                            *"
    "\n\t*      one pixel wide: raster, bitmap and ascii grid         *"
    "\n\t*                      Actualization February 2020           *"
    "\n\t*                                                            *"
    "\n\t**************************************************************";
inline const std::string kFolderPrompt = "\n\n\tName of the File Folder located in the Directory C:\\images ? ";
inline const std::string kFormatHeading = "\n\tFormat type : ";
inline const std::string kFormatMenu =
    "\n\t\tNote: the extensions and the size of all images must be the same"
    "\n\t\t0 ====> raster\n\t\t1 ====> bitmap\n\t\t2 ====> ascii\n\t\t";
inline const std::string kNamePrompt = "\n\tName of input File (without any extension) ? ";
inline const std::string kResultHeading = "\n\n\tName of the resulting file : ";
inline const std::string kNewNamePrompt = "\n\n\tName of the File to be created (without any extension) ? ";
inline const std::string kThreshold = "\n\n\tThresholding : \n\t\tMin (included) ? \t\tMax (included) ? \n";

inline std::string result_menu(const std::string& name) {
  std::string s = "\n\t\t0 -----> Taking into account the generic name ";
  s.append(name).append(" ? \n\t\t1 -----> Creation of a new File ?\n\t\t");
  return s;
}

inline std::string size_report(int lines, int columns) {
  std::string s = "\n\tTHE IMAGE HAS:  \n\t            ";
  s.append(std::to_string(lines)).append(" LINES\n\t        AND ").append(std::to_string(columns)).append(" COLUMNS");
  return s;
}

// The progress lines of `lines` image lines.
inline std::string progress(int lines) {
  std::string s;
  for (int i = 0; i < lines; ++i) s.append("\t\tline ").append(std::to_string(i)).append("                        \r");
  return s;
}

}  // namespace testing_support
