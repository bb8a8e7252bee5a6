# Writes the dialog templates into a C++ source:
#   cmake -DOUTPUT=<file.cpp> -DTEMPLATE_DIR=<folder> -P EmbedTemplates.cmake
# takes every <folder>/*.dlg; a file's id is the number its name starts with (102_main.dlg).
file(GLOB TEMPLATES ${TEMPLATE_DIR}/*.dlg)
list(SORT TEMPLATES)
set(body "")
set(rows "")
set(count 0)
foreach(file ${TEMPLATES})
  get_filename_component(name ${file} NAME)
  if(NOT name MATCHES "^([0-9]+)_.*\\.dlg$")
    message(FATAL_ERROR "${file}: a template's file name starts with its id")
  endif()
  set(id ${CMAKE_MATCH_1})
  file(READ ${file} hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "const char kTemplate${id}[] = {${bytes}0};\n")
  string(APPEND rows "    {${id}, kTemplate${id}, ${size}},\n")
  math(EXPR count "${count} + 1")
endforeach()
set(text "// Made by cmake/EmbedTemplates.cmake from resources/templates/*.dlg; edit those instead.
#include <cstddef>

namespace lumivex::ui::embedded {
struct TemplateText {
  int id;
  const char* text;
  std::size_t size;
};
namespace {
${body}}  // namespace
extern const TemplateText kTemplateTexts[];
extern const std::size_t kTemplateTextCount;
const TemplateText kTemplateTexts[] = {
${rows}};
const std::size_t kTemplateTextCount = ${count};
}  // namespace lumivex::ui::embedded
")
# Rewritten only when it changes, so a build after a touch of a template recompiles one file.
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE ${OUTPUT} "${text}")
