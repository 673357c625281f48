# The version of Lathmark and the date of its release are written in one place: the newest
# entry of debian/changelog. The Debian package takes them from there, and so does the build,
# for `lathmark-count --version` and the AppStream release, so that all of them agree.
# Sets LATHMARK_VERSION (X.Y.Z) and LATHMARK_RELEASE_DATE (YYYY-MM-DD).

set(lathmark_changelog ${CMAKE_CURRENT_LIST_DIR}/../debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${lathmark_changelog})
file(READ ${lathmark_changelog} lathmark_changelog_text LIMIT 4096)

# The first line: "lathmark (0.1.0) bookworm; urgency=medium".
if(NOT lathmark_changelog_text MATCHES "^lathmark \\(([0-9]+\\.[0-9]+\\.[0-9]+)\\) ")
    message(FATAL_ERROR "${lathmark_changelog}: the first line must begin with "
                        "\"lathmark (X.Y.Z) \", the version of this release")
endif()
set(LATHMARK_VERSION ${CMAKE_MATCH_1})

# The entry's closing line: " -- Name <address>  Mon, 07 Dec 2026 15:30:00 +0000".
if(NOT lathmark_changelog_text MATCHES
       "\n -- [^\n]*>  [A-Z][a-z][a-z], ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "${lathmark_changelog}: the newest entry has no closing line "
                        "\" -- Name <address>  Day, DD Mon YYYY HH:MM:SS +ZZZZ\"")
endif()
set(lathmark_day ${CMAKE_MATCH_1})
set(lathmark_month_name ${CMAKE_MATCH_2})
set(lathmark_year ${CMAKE_MATCH_3})
set(lathmark_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND lathmark_months ${lathmark_month_name} lathmark_month)
if(lathmark_month LESS 0)
    message(FATAL_ERROR "${lathmark_changelog}: unknown month \"${lathmark_month_name}\"")
endif()
math(EXPR lathmark_month "${lathmark_month} + 1")
string(LENGTH ${lathmark_month} lathmark_length)
if(lathmark_length EQUAL 1)
    set(lathmark_month 0${lathmark_month})
endif()
string(LENGTH ${lathmark_day} lathmark_length)
if(lathmark_length EQUAL 1)
    set(lathmark_day 0${lathmark_day})
endif()
set(LATHMARK_RELEASE_DATE ${lathmark_year}-${lathmark_month}-${lathmark_day})
