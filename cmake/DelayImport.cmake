# Delay-loaded imports for the Windows build.
#
# ost_add_delay_import(<target> <dll> <library>) makes <target>, a static library that
# stands in for the MinGW import library lib<library>.a: the functions it names are
# bound on their first call (through the delay-load helper of MinGW's runtime) instead
# of by the loader at process start. The elevated tool can thus restrict where DLLs come
# from before the DLL is looked for. The list of functions is taken from the import
# library itself.
function(ost_add_delay_import target dll library)
  find_library(OST_IMPORT_LIB_${library} NAMES lib${library}.a REQUIRED)
  set(import_lib "${OST_IMPORT_LIB_${library}}")
  if(NOT CMAKE_NM OR NOT CMAKE_DLLTOOL)
    message(FATAL_ERROR "delay imports need nm and dlltool of the MinGW toolchain")
  endif()
  execute_process(COMMAND ${CMAKE_NM} -g ${import_lib}
                  OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${CMAKE_NM} failed on ${import_lib}")
  endif()
  # Every function of the import library has its import thunk "__imp_NAME" (32-bit:
  # "__imp__NAME@ARGBYTES", the C name with its leading underscore and stdcall suffix).
  string(REGEX MATCHALL "[ \t]I __imp_[^\r\n]+" entries "${symbols}")
  set(def "LIBRARY ${dll}\nEXPORTS\n")
  set(count 0)
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^[ \t]I __imp_" "" name "${entry}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(REGEX REPLACE "^_" "" name "${name}")
    endif()
    string(APPEND def "${name}\n")
    math(EXPR count "${count} + 1")
  endforeach()
  if(count EQUAL 0)
    message(FATAL_ERROR "no functions found in ${import_lib}")
  endif()
  set(def_file ${CMAKE_CURRENT_BINARY_DIR}/${library}-delay.def)
  file(CONFIGURE OUTPUT ${def_file} CONTENT "${def}" @ONLY)

  set(kill_at)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The DLL exports the plain names; only the C symbols carry the @ARGBYTES suffix.
    set(kill_at --kill-at)
  endif()
  set(output ${CMAKE_CURRENT_BINARY_DIR}/lib${library}-delay.a)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${def_file} --dllname ${dll} ${kill_at}
            --output-delaylib ${output}
    DEPENDS ${def_file}
    COMMENT "Delay-import library for ${dll}"
    VERBATIM)
  add_custom_target(${target}_generate DEPENDS ${output})
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${output})
  add_dependencies(${target} ${target}_generate)
endfunction()
