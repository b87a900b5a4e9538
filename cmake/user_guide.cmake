# The readmes beside the programs: user's guides assembled at build time from docs/ with
# tools/docs/make_guide.py (python3-reportlab).
#
#   add_user_guide(TARGET SOURCE OUTPUT [JAPANESE] IMAGES image...)
#
# A JAPANESE guide is set in the IPA P Gothic TrueType font (fonts-ipafont-gothic), which the PDF
# embeds; without reportlab or that font the guide is left out with a note.

execute_process(COMMAND /usr/bin/python3 -c "import reportlab" RESULT_VARIABLE suite_no_reportlab
                OUTPUT_QUIET ERROR_QUIET)
# A file of the build host, also when cross-compiling.
find_file(SUITE_JAPANESE_GUIDE_FONT ipagp.ttf
          PATHS /usr/share/fonts/opentype/ipafont-gothic /usr/share/fonts/truetype/ipafont-gothic
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)

function(add_user_guide target source output)
  cmake_parse_arguments(GUIDE "JAPANESE" "" "IMAGES" ${ARGN})
  get_filename_component(name ${output} NAME)
  if(NOT suite_no_reportlab EQUAL 0)
    message(STATUS "python3-reportlab missing: ${name} is not built")
    return()
  endif()
  set(font_option)
  if(GUIDE_JAPANESE)
    if(NOT SUITE_JAPANESE_GUIDE_FONT)
      message(STATUS "fonts-ipafont-gothic missing: ${name} is not built")
      return()
    endif()
    set(font_option --japanese-font ${SUITE_JAPANESE_GUIDE_FONT})
  endif()
  add_custom_command(
    OUTPUT ${output}
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tools/docs/make_guide.py ${font_option}
            ${source} ${output}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/docs/make_guide.py ${source} ${GUIDE_IMAGES}
    COMMENT "Assembling ${name}")
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()
