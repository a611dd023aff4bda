# `cpack -G DEB` in the build folder (scripts/package.sh): the Debian package of what
# `cmake --install` installs, with its copyright file and changelog. The dependencies are the
# packages of the libraries the program links (dpkg-shlibdeps) and of the plugins it loads:
# Qt's SVG icon engine draws every icon.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME yunshan-note)
set(CPACK_PACKAGE_CONTACT "YunShanNote developers <developers@yunshan-note.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "note-taking program with categories, one local database (云杉札记)")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${CMAKE_CURRENT_LIST_DIR}/deb/description)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://yunshan-note.example.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6svg6)
# The fonts the program looks for first (without any, Chinese text shows as boxes) and the
# Chinese texts of Qt's own dialog buttons.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "fonts-wqy-microhei | fonts-noto-cjk | fonts-wqy-zenhei | fonts-arphic-uming, qt6-translations-l10n")
# Chinese typed through fcitx5 reaches Qt 6 programs only through this.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS fcitx5-frontend-qt6)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
# Folders 0755 whatever the umask of the one who packs.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Everything a plain install puts in place, and the package's own documents.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/;${PROJECT_BINARY_DIR};${PROJECT_NAME};deb;/")
include(CPack)
