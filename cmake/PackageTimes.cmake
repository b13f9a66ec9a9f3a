# Run by CPack before it packs: every staged file and folder gets the time SOURCE_DATE_EPOCH
# gives (the last commit's), so that the same sources make the same package.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND find "${CPACK_TEMPORARY_DIRECTORY}" -exec touch -h -d
        "@$ENV{SOURCE_DATE_EPOCH}" {} + COMMAND_ERROR_IS_FATAL ANY)
endif()
