# Writes the viewer page's constant data: a C++ source that holds page.html with its style sheet
# and scripts inlined, cut into the part before the back link, the back link and the rest.
#   cmake -DPAGE_DIR=src/plugin_logs/viewer -DOUT=viewer_page.cpp -P cmake/embed_page.cmake
#
# The page is sent without line breaks except after the doctype, after each script of the head,
# between the lines of the client script and at the very end. So:
# - markup: indentation and line breaks are dropped (a break inside a text becomes one space),
#   comments too; the back link stands between "<!-- standalone only -->" and
#   "<!-- end standalone only -->";
# - <link rel='stylesheet' href='F'> becomes a style element with F on one line: comments,
#   indentation and line breaks go, "name: value" loses its space, ";}" becomes "}";
# - <script src='F'></script> before the body becomes a script on one line followed by a line
#   feed. After it, <script src='A B C'></script> is the client script: the files named, in
#   that order, joined line by line inside one function,
#     (function () {
#     'use strict';
#     ...the lines of A, then B, then C...
#     })();
#   so that they share one scope (the page's state record, their functions) and leave no
#   globals. Both kinds lose indentation, blank lines and lines that hold only a // comment.
cmake_minimum_required(VERSION 3.25)

if(NOT PAGE_DIR OR NOT OUT)
  message(FATAL_ERROR "usage: cmake -DPAGE_DIR=DIR -DOUT=FILE -P embed_page.cmake")
endif()

function(read_source name out_var)
  if(NOT EXISTS "${PAGE_DIR}/${name}")
    message(FATAL_ERROR "page source missing: ${PAGE_DIR}/${name}")
  endif()
  file(READ "${PAGE_DIR}/${name}" text)
  string(FIND "${text}" "\r" cr)
  if(NOT cr EQUAL -1)
    message(FATAL_ERROR "${name}: carriage return in a page source")
  endif()
  # A leading line feed lets the patterns below treat the first line like every other.
  set(${out_var} "\n${text}" PARENT_SCOPE)
endfunction()

# Indentation and trailing blanks off every line.
function(trim_lines text_var)
  string(REGEX REPLACE "[ \t]+\n" "\n" text "${${text_var}}\n")
  string(REGEX REPLACE "\n[ \t]+" "\n" text "${text}")
  set(${text_var} "${text}" PARENT_SCOPE)
endfunction()

function(script_text name separator out_var)
  read_source("${name}" text)
  trim_lines(text)
  string(REGEX REPLACE "\n//[^\n]*" "" text "${text}")
  string(REGEX REPLACE "\n\n+" "\n" text "${text}")
  string(REGEX REPLACE "^\n" "" text "${text}")
  string(REGEX REPLACE "\n$" "" text "${text}")
  string(REPLACE "\n" "${separator}" text "${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

function(style_text name out_var)
  read_source("${name}" text)
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" text "${text}")
  trim_lines(text)
  string(REGEX REPLACE "\n([-a-z0-9]+): " "\n\\1:" text "${text}")
  string(REGEX REPLACE " \\{\n" "{\n" text "${text}")
  string(REPLACE " !important" "!important" text "${text}")
  string(REPLACE "\n" "" text "${text}")
  string(REPLACE ";}" "}" text "${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# The text as the body of a C string literal, one source line per line of the text.
function(c_literal text out_var)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "??" "?\\?" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  string(REPLACE "\n" "\\n\"\n\t\"" text "${text}")
  set(${out_var} "\t\"${text}\"" PARENT_SCOPE)
endfunction()

read_source(page.html html)
string(ASCII 1 cut_open)
string(ASCII 2 cut_close)
string(REPLACE "<!-- standalone only -->" "${cut_open}" html "${html}")
string(REPLACE "<!-- end standalone only -->" "${cut_close}" html "${html}")
string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" html "${html}")
trim_lines(html)
string(REGEX REPLACE "([^>\n])\n([^<\n])" "\\1 \\2" html "${html}")
string(REPLACE "\n" "" html "${html}")
string(REGEX REPLACE "^<!DOCTYPE html>" "<!DOCTYPE html>\n" html "${html}")

string(REGEX MATCH "<link rel='stylesheet' href='([^']+)'>" tag "${html}")
if(NOT tag)
  message(FATAL_ERROR "page.html: no style sheet link")
endif()
style_text("${CMAKE_MATCH_1}" css)
string(REPLACE "${tag}" "<style>${css}</style>" html "${html}")

while(TRUE)
  string(REGEX MATCH "<script src='([^']+)'></script>" tag "${html}")
  if(NOT tag)
    break()
  endif()
  set(name "${CMAKE_MATCH_1}")
  string(FIND "${html}" "${tag}" at)
  string(FIND "${html}" "<body" body_at)
  if(body_at EQUAL -1 OR at LESS body_at)
    script_text("${name}" "" js)
    set(element "<script>${js}</script>\n")
  else()
    set(js "(function () {\n'use strict';")
    string(REPLACE " " ";" names "${name}")
    foreach(part IN LISTS names)
      script_text("${part}" "\n" part_js)
      string(APPEND js "\n${part_js}")
    endforeach()
    set(element "<script>${js}\n})();</script>")
  endif()
  string(REPLACE "${tag}" "${element}" html "${html}")
endwhile()
string(APPEND html "\n")

string(FIND "${html}" "${cut_open}" open_at)
string(FIND "${html}" "${cut_close}" close_at)
if(open_at EQUAL -1 OR close_at LESS open_at)
  message(FATAL_ERROR "page.html: the back link is not marked as standalone only")
endif()
math(EXPR link_at "${open_at} + 1")
math(EXPR link_len "${close_at} - ${link_at}")
math(EXPR rest_at "${close_at} + 1")
string(SUBSTRING "${html}" 0 ${open_at} before)
string(SUBSTRING "${html}" ${link_at} ${link_len} link)
string(SUBSTRING "${html}" ${rest_at} -1 rest)

c_literal("${before}" before)
c_literal("${link}" link)
c_literal("${rest}" rest)
set(source "/* Generated by cmake/embed_page.cmake from src/plugin_logs/viewer/page.html and the files it
 * names; edit those, not this. */
#include \"page.h\"

const char page_open[] =
${before};

const char page_back_link[] =
${link};

const char page_rest[] =
${rest};
")
file(WRITE "${OUT}" "${source}")
