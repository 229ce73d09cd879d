# cmake -DSOURCE=... -DVERSION=... -DKEY=... -DALLOW_TEST_KEY=ON|OFF -P CheckPackage.cmake
# (TAVIX_PACKAGE_ALLOW_TEST_KEY=1 in the environment allows the test key for one build.)
#
# Refuses to package what would install wrong: a changelog or a default conf.xml of another
# version than the program (the update server is told conf.xml's version), or trust in the
# reference server's test key without leave.
file(STRINGS ${SOURCE}/packaging/changelog latest LIMIT_COUNT 1)
if(NOT latest MATCHES "^tavix \\(${VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: the latest entry is not version ${VERSION}")
endif()

file(READ ${SOURCE}/data/Resources/profiles/conf.xml conf)
if(NOT conf MATCHES "<client [^>]*version=\"${VERSION}\"")
  message(FATAL_ERROR "data/Resources/profiles/conf.xml: the client's version is not ${VERSION}")
endif()

file(STRINGS ${SOURCE}/tools/vendor-server/test.key.pub test_key LIMIT_COUNT 1)
# Until the key is built into the program, conf.xml's updateKey is the one the program trusts.
string(REGEX MATCH "<client [^>]*updateKey=\"([0-9a-fA-F]*)\"" found "${conf}")
set(conf_key "${CMAKE_MATCH_1}")
if("$ENV{TAVIX_PACKAGE_ALLOW_TEST_KEY}" STREQUAL "1")
  set(ALLOW_TEST_KEY ON)
endif()
foreach(key IN ITEMS "${KEY}" "${conf_key}")
  if(key STREQUAL test_key AND NOT ALLOW_TEST_KEY)
    message(FATAL_ERROR
      "The package would trust the reference server's test key (tools/vendor-server/test.key.pub), "
      "whose secret half is published. Build with your own key (pack keygen; TAVIX_UPDATE_KEY and "
      "the updateKey of data/Resources/profiles/conf.xml), or allow the test key for a test "
      "package with TAVIX_PACKAGE_ALLOW_TEST_KEY=1 in the environment.")
  endif()
endforeach()
