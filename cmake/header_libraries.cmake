# Header-only libraries from Debian's packages, for the native and the
# Windows cross build alike. Each gets an include folder of its own under the
# build tree, holding a link to its headers alone: the cross compiler must
# never see the rest of /usr/include.
function(isp_header_library target subdir package)
  find_path(${target}_ROOT ${subdir} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${target}_ROOT)
    message(FATAL_ERROR "${subdir} not found: install ${package} (scripts/bootstrap does)")
  endif()
  set(dir ${CMAKE_BINARY_DIR}/header-libraries/${target})
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${${target}_ROOT}/${subdir} ${dir}/${subdir} SYMBOLIC)
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${dir})
endfunction()

isp_header_library(isp_cli11 CLI libcli11-dev)
isp_header_library(isp_json nlohmann nlohmann-json3-dev)
