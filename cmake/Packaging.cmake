# What `cmake --install` puts on the system, and the Debian package made of it
# (`make package`, CPack's DEB generator). Included from the root CMakeLists.txt
# after the kelvo target and, when the tests are built, enable_testing().

include(GNUInstallDirs)

# Installing and packaging build only what they install (the Makefile builds the
# program first), not the whole tree with its tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(KELVO_APP_ID jp.example.kelvo)

install(TARGETS kelvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The menu entry is written at install time, when the prefix is final (it may be
# given to `cmake --install --prefix`, and CPack installs under /usr): see
# InstallDesktopEntry.cmake for why the Exec line depends on it.
install(CODE "
    set(KELVO_DESKTOP_TEMPLATE \"${PROJECT_SOURCE_DIR}/data/${KELVO_APP_ID}.desktop.in\")
    set(KELVO_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    set(KELVO_APPLICATIONS_DIR \"${CMAKE_INSTALL_DATADIR}/applications\")
")
install(SCRIPT cmake/InstallDesktopEntry.cmake)

install(FILES data/kelvo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The bitmaps are kelvo.svg rendered by `rsvg-convert -w N -h N`.
foreach(size 48x48 128x128 256x256)
    install(FILES data/icons/${size}/kelvo.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
endforeach()
# The AppStream file and the manual page carry the version and the release's date.
configure_file(data/${KELVO_APP_ID}.metainfo.xml.in data/${KELVO_APP_ID}.metainfo.xml @ONLY)
configure_file(data/kelvo.1.in data/kelvo.1 @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/data/${KELVO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The changelog is history and is written by hand; its latest entry must be this version's.
file(STRINGS data/changelog latest_entry LIMIT_COUNT 1)
if(NOT latest_entry MATCHES "^kelvo \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "data/changelog begins with \"${latest_entry}\": add an entry for ${PROJECT_VERSION}")
endif()
install(FILES data/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The help that "その他 → ヘルプの参照" (F1) opens: kelvo finds it under the prefix it was installed to.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Debian wants the manual page and the changelog compressed, without a time stamp
# in the gzip header so that the package builds the same twice.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed)
foreach(file ${CMAKE_CURRENT_BINARY_DIR}/data/kelvo.1 ${PROJECT_SOURCE_DIR}/data/changelog)
    get_filename_component(name ${file} NAME)
    add_custom_command(OUTPUT ${name}.gz
        COMMAND ${GZIP_PROGRAM} -9nc ${file} > ${name}.gz
        DEPENDS ${file}
        VERBATIM)
    list(APPEND compressed ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kelvo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvo)
set(CPACK_PACKAGE_VENDOR "the kelvo authors")
set(CPACK_PACKAGE_CONTACT "the kelvo authors <authors@kelvo.example.jp>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail pictures to a mobile phone")
set(CPACK_PACKAGE_DESCRIPTION [[kelvo mails one picture at a time to a mobile phone. A JPEG, PNG, WebP,
HEIC or BMP picture dropped on its window or opened with it from the file
manager is turned upright and smoothly resampled so that its longer side fits
the phone's screen, and it can be made grey.

On send the picture is encoded as a JPEG at the highest quality that fits the
carrier's mail size limit and mailed through the user's own provider, over
STARTTLS or TLS and with an SMTP login; the password is kept in the desktop's
keyring. The subject and the text may be written in Japanese. The user
interface is in Japanese, or in English on a desktop set to another language;
it can be used with the keyboard alone and with a screen reader, and runs on
X11 and natively on Wayland.]])
# CPack installs into its staging folder through DESTDIR, so the install scripts
# above see /usr as the prefix (scripts/check-package checks the menu entry).
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://kelvo.example.jp/)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries kelvo links are found by dpkg-shlibdeps; these are loaded at run
# time and no scan sees them: WebP through Qt's image plug-in, the keyring through
# libsecret (the keychain library opens it when the password is stored or read;
# it recommends a keyring itself), the certificate store that every TLS
# connection is checked against, the Japanese face the windows ask for, Qt's
# Wayland platform plug-in, without which kelvo aborts on a Wayland desktop that
# has no XWayland, and Ghostscript's colour profiles (the standard CMYK one, read
# when a CMYK JPEG has no profile of its own). Qt's X11 platform plug-in comes with
# libqt6gui6, which the scan finds.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-image-formats-plugins, libsecret-1-0, ca-certificates, fonts-ipafont-gothic | fonts-japanese-gothic, \
qt6-wayland, libgs-common")
# Qt's own texts (the file dialog's buttons) in the window's language; kelvo's own come
# with the program, and Qt's stay English without this.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
include(CPack)

# Builds the package and checks it with lintian, desktop-file-validate and
# appstreamcli, which are test tools. A sanitizer build is no package to ship, so it
# is not checked.
if(BUILD_TESTING AND NOT KELVO_SANITIZE)
    add_test(NAME package.debian
        COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-package ${CMAKE_BINARY_DIR})
    set_tests_properties(package.debian PROPERTIES LABELS package TIMEOUT 600)
endif()
