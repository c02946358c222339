# Third-party packages. FlatBuffers and argparse come from the system when it has
# recent enough ones, otherwise from the .deps prefix that scripts/bootstrap fills.
set(VADU_DEPS_PREFIX ${PROJECT_SOURCE_DIR}/.deps)
list(APPEND CMAKE_PREFIX_PATH ${VADU_DEPS_PREFIX})

find_package(flatbuffers 23.5.26 CONFIG REQUIRED)
if(TARGET flatbuffers::flatc)
  set(VADU_FLATC $<TARGET_FILE:flatbuffers::flatc>)
else()
  find_program(VADU_FLATC flatc HINTS ${VADU_DEPS_PREFIX}/bin REQUIRED)
endif()
# An installation without the flatbuffers library has no include target: the
# headers sit next to the package files.
if(TARGET flatbuffers::flatbuffers)
  get_target_property(VADU_FLATBUFFERS_INCLUDE flatbuffers::flatbuffers INTERFACE_INCLUDE_DIRECTORIES)
else()
  get_filename_component(VADU_FLATBUFFERS_INCLUDE "${flatbuffers_DIR}/../../../include" ABSOLUTE)
endif()
if(NOT EXISTS "${VADU_FLATBUFFERS_INCLUDE}/flatbuffers/flatbuffers.h")
  message(FATAL_ERROR "FlatBuffers headers not found next to ${flatbuffers_DIR}; run scripts/bootstrap")
endif()
add_library(vadu_flatbuffers INTERFACE)
target_include_directories(vadu_flatbuffers SYSTEM INTERFACE ${VADU_FLATBUFFERS_INCLUDE})

find_path(VADU_ARGPARSE_INCLUDE argparse/argparse.hpp HINTS ${VADU_DEPS_PREFIX}/include REQUIRED)
add_library(vadu_argparse INTERFACE)
target_include_directories(vadu_argparse SYSTEM INTERFACE ${VADU_ARGPARSE_INCLUDE})

find_package(fmt REQUIRED)
find_package(spdlog REQUIRED)
find_path(VADU_PICOJSON_INCLUDE picojson.h PATH_SUFFIXES picojson REQUIRED)
add_library(vadu_picojson INTERFACE)
target_include_directories(vadu_picojson SYSTEM INTERFACE ${VADU_PICOJSON_INCLUDE})
target_compile_definitions(vadu_picojson INTERFACE PICOJSON_USE_INT64)

find_package(Threads REQUIRED)

if(VADU_BUILD_PYTHON)
  # The Debian interpreter is the one that has numpy.
  set(Python_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "Interpreter the modules are built for")
  set(PYBIND11_FINDPYTHON ON)
  set(vadu_python_components Interpreter Development.Module)
  if(VADU_BUILD_TESTS)
    # A test embeds the interpreter to call the bindings from threads of its own.
    list(APPEND vadu_python_components Development.Embed)
  endif()
  find_package(Python COMPONENTS ${vadu_python_components} REQUIRED)
  find_package(pybind11 CONFIG REQUIRED)
  # Debian's pythonX.Y/pyconfig.h includes <MULTIARCH/pythonX.Y/pyconfig.h>,
  # which is found from the folder above both: a system include folder for the
  # system's interpreter, but not for one unpacked elsewhere (scripts/bootstrap's 3.9).
  list(GET Python_INCLUDE_DIRS 0 vadu_python_include_dir)
  cmake_path(GET vadu_python_include_dir PARENT_PATH vadu_python_include_root)
  if(NOT vadu_python_include_root IN_LIST CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
    set_property(TARGET pybind11::python_headers APPEND PROPERTY
      INTERFACE_INCLUDE_DIRECTORIES ${vadu_python_include_root})
  endif()
endif()

if(VADU_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
