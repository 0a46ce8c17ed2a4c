# nlohmann-json, header-only (Debian's nlohmann-json3-dev): what writes and
# reads JSON. The Windows cross build takes the same headers through a folder
# that holds them alone, so that no other Linux header can stand in for one
# of the Windows headers.
find_path(QOR_NLOHMANN_JSON_DIR nlohmann/json.hpp
    PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(qor_json_include ${PROJECT_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${qor_json_include})
if(NOT EXISTS ${qor_json_include}/nlohmann)
    file(CREATE_LINK ${QOR_NLOHMANN_JSON_DIR}/nlohmann ${qor_json_include}/nlohmann SYMBOLIC)
endif()
add_library(qor_json INTERFACE)
target_include_directories(qor_json SYSTEM INTERFACE ${qor_json_include})
