# Interface targets every target of the project links.
#
# tovrel_settings: language level, warnings, include root and the version text.
add_library(tovrel_settings INTERFACE)
target_compile_features(tovrel_settings INTERFACE cxx_std_20)
target_compile_options(tovrel_settings INTERFACE -Wall -Wextra)
target_compile_definitions(tovrel_settings INTERFACE TOVREL_VERSION_TEXT="${PROJECT_VERSION}")
target_include_directories(tovrel_settings INTERFACE ${PROJECT_SOURCE_DIR}/src)

# tovrel_strict_qt: the strict Qt defines that keep string conversions explicit in the
# program's own sources (linked privately, so tests may use plain literals).
add_library(tovrel_strict_qt INTERFACE)
target_compile_definitions(tovrel_strict_qt INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_CONTEXTLESS_CONNECT
    QT_STRICT_ITERATORS
    QT_USE_QSTRINGBUILDER)
