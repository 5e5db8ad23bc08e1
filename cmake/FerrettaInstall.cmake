# Installing Ferretta like any desktop program:
#
#   bin/ferretta, bin/ferretta-cli
#   lib/ferretta/ferretta-pim.so   the mail and personal-items module, loaded on first use
#   lib/ferretta/ferretta-libreoffice.so   LibreOffice over UNO, loaded at the first office
#   share/ferretta/          the data files the programs look for in ../share/ferretta
#   share/applications/      the desktop entry        share/metainfo/   the AppStream data
#   share/icons/hicolor/     the icon: scalable SVG and PNGs from 16 to 256 px made from it
#   share/man/man1/          the manual page of ferretta-cli
#   share/doc/ferretta/      the notices of the character tables' sources
include(GNUInstallDirs)

set(FERRETTA_APP_ID io.github.ferretta.Ferretta)
set(FERRETTA_DATA_DIR ${CMAKE_INSTALL_DATADIR}/ferretta)
set(_resources ${PROJECT_SOURCE_DIR}/resources)

install(TARGETS ferretta-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The mail and personal-items module, where the programs look for it from bin/.
install(TARGETS ferretta_pim_module LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/ferretta)
# LibreOffice over UNO, as a module for the same reason.
install(TARGETS ferretta_libreoffice_module LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/ferretta)
if(TARGET ferretta)
    install(TARGETS ferretta RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${_resources}/AdobeCID.dat ${_resources}/JapanCMaps.dat
              ${_resources}/frtta-default.ini
        DESTINATION ${FERRETTA_DATA_DIR})
install(FILES ${_resources}/help/index.html DESTINATION ${FERRETTA_DATA_DIR}/help)
install(FILES ${_resources}/AdobeCID.NOTICE ${_resources}/GlyphList.NOTICE
              ${_resources}/JapanCMaps.NOTICE
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ferretta)
install(FILES ${_resources}/desktop/${FERRETTA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_resources}/desktop/${FERRETTA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_resources}/man/ferretta-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The icon: the SVG, and the usual PNG sizes drawn from it at build time.
set(_iconSvg ${_resources}/desktop/${FERRETTA_APP_ID}.svg)
install(FILES ${_iconSvg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
find_program(FERRETTA_RSVG_CONVERT rsvg-convert)
if(FERRETTA_RSVG_CONVERT)
    set(_iconPngs)
    foreach(size IN ITEMS 16 22 24 32 48 64 128 256)
        set(_png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/${FERRETTA_APP_ID}.png)
        add_custom_command(
            OUTPUT ${_png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
            COMMAND ${FERRETTA_RSVG_CONVERT} -w ${size} -h ${size} -o ${_png} ${_iconSvg}
            DEPENDS ${_iconSvg}
            COMMENT "Drawing the ${size}x${size} icon"
            VERBATIM)
        list(APPEND _iconPngs ${_png})
        install(FILES ${_png}
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(ferretta_icons ALL DEPENDS ${_iconPngs})
else()
    message(WARNING "rsvg-convert (librsvg2-bin) not found: only the scalable icon is installed")
endif()
