# zal_add_folder_sources(WINDOWS_TARGET)
# On Windows, adds every .cpp of the calling folder but the entry point to WINDOWS_TARGET. The portable files
# live in core/, which names its own.
function(zal_add_folder_sources windows_target)
    if(WIN32)
        file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
        list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/ZALUpdate.cpp)
        target_sources(${windows_target} PRIVATE ${sources})
    endif()
endfunction()
