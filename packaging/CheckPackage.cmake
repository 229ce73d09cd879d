# cmake -DSOURCE=... -DVERSION=... -DKEY_IS_TEST=ON|OFF -DALLOW_TEST_KEY=ON|OFF -P CheckPackage.cmake
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

# The key built into the program (TAVIX_UPDATE_KEY) is the only one it trusts.
if("$ENV{TAVIX_PACKAGE_ALLOW_TEST_KEY}" STREQUAL "1")
  set(ALLOW_TEST_KEY ON)
endif()
if(KEY_IS_TEST AND NOT ALLOW_TEST_KEY)
  message(FATAL_ERROR
    "The package would trust the reference server's test key (tools/vendor-server/test.key.pub), "
    "whose secret half is published. Build with your own key (pack keygen; -DTAVIX_UPDATE_KEY=), "
    "or allow the test key for a test package with TAVIX_PACKAGE_ALLOW_TEST_KEY=1 in the "
    "environment.")
endif()
