# Shows that the layers hold: a source of a lower layer that includes a header
# of a higher one does not compile, while the same source including its own
# layer's header does.
set(LAYER_PROBES
  "orvalis_base|base/tree.h|text/analyser.h"
  "orvalis_text|text/xml_config.h|services/configer.h"
  "orvalis_platform|platform/special_folders.h|services/configer.h"
  "orvalis_services|services/configer.h|audio/audio_info.h"
  "orvalis_audio|audio/audio_info.h|collection/collection.h"
  "orvalis_collection|collection/collection.h|catalogue/catalogue.h"
  "orvalis_catalogue|catalogue/catalogue.h|pages/page_writer.h"
  "orvalis_pages|pages/page_writer.h|output/destination.h"
  "orvalis_output|output/destination.h|output/site/web_site.h"
  "orvalis_output_chm|output/chm/chm_preparer.h|output/site/web_site.h"
  "orvalis_output_site|output/site/web_site.h|output/chm/chm_preparer.h"
  "orvalis_run|run/build_run.h|cli/build_command.h"
  "orvalis_report|report/error_report.h|run/build_run.h")
foreach(probe ${LAYER_PROBES})
  string(REPLACE "|" ";" parts "${probe}")
  list(GET parts 0 layer)
  list(GET parts 1 own)
  list(GET parts 2 upward)
  add_test(NAME layers.${layer}.sees_own
    COMMAND ${CMAKE_COMMAND} -DCXX=${CMAKE_CXX_COMPILER} -DROOT=${CMAKE_BINARY_DIR}/layers/${layer}
            -DHEADER=${own} -DEXPECT=pass -P ${CMAKE_SOURCE_DIR}/cmake/layer_probe.cmake)
  add_test(NAME layers.${layer}.refuses_upward
    COMMAND ${CMAKE_COMMAND} -DCXX=${CMAKE_CXX_COMPILER} -DROOT=${CMAKE_BINARY_DIR}/layers/${layer}
            -DHEADER=${upward} -DEXPECT=fail -P ${CMAKE_SOURCE_DIR}/cmake/layer_probe.cmake)
endforeach()
