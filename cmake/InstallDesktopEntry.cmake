# Runs at install time (install(SCRIPT)): writes the menu entry for the final
# prefix. Where the program lands in /usr/bin or /usr/local/bin, which are on
# every PATH, the entry starts it by name, as Debian wants. Anywhere else it
# names the program by its full path: ~/.local/bin, for one, is put on PATH by
# Debian's ~/.profile only at a login after the folder exists, so a bare name
# would leave the menu entry dead until the user logs in again.
#
# Set by the caller: KELVO_DESKTOP_TEMPLATE, KELVO_BINDIR, KELVO_APPLICATIONS_DIR.

# Install scripts otherwise run with the policies of CMake 2.x.
cmake_policy(VERSION 3.25)

if(IS_ABSOLUTE "${KELVO_BINDIR}")
    set(bindir "${KELVO_BINDIR}")
else()
    set(bindir "${CMAKE_INSTALL_PREFIX}/${KELVO_BINDIR}")
endif()
cmake_path(NORMAL_PATH bindir)
string(REGEX REPLACE "/$" "" bindir "${bindir}")

if(bindir STREQUAL "/usr/bin" OR bindir STREQUAL "/usr/local/bin")
    set(KELVO_EXEC kelvo)
elseif(bindir MATCHES "^[A-Za-z0-9/._+-]+$")
    set(KELVO_EXEC "${bindir}/kelvo")
else()
    # A path with spaces or other reserved characters is quoted; inside the quotes
    # the entry escapes " ` $ \ with a backslash, and the file escapes the backslash
    # again. % is the field-code character everywhere.
    set(path "${bindir}/kelvo")
    string(REPLACE "\\" "\\\\\\\\" path "${path}")
    string(REGEX REPLACE "([\"`$])" "\\\\\\\\\\1" path "${path}")
    string(REPLACE "%" "%%" path "${path}")
    set(KELVO_EXEC "\"${path}\"")
endif()

if(IS_ABSOLUTE "${KELVO_APPLICATIONS_DIR}")
    set(destination "${KELVO_APPLICATIONS_DIR}")
else()
    set(destination "${CMAKE_INSTALL_PREFIX}/${KELVO_APPLICATIONS_DIR}")
endif()
get_filename_component(name "${KELVO_DESKTOP_TEMPLATE}" NAME_WLE)
set(entry "$ENV{DESTDIR}${destination}/${name}")
message(STATUS "Installing: ${entry}")
file(READ "${KELVO_DESKTOP_TEMPLATE}" template)
string(CONFIGURE "${template}" content @ONLY)
file(WRITE "${entry}" "${content}")
file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")
