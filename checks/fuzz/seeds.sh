#!/bin/sh
# Writes the seed corpus for fuzz_request into checks/fuzz/corpus/, one small file per request.
# A seed is: a flags byte (1 argument, 2 QUERY_STRING, 4 BOT_PASSWORD, 8 HTTP_X_BOT_PASSWORD,
# 16 HTTP_AUTHORIZATION, 32 DV_PLUGIN_META), then the five fields separated by NUL bytes.
set -e
cd "$(dirname "$0")/corpus"
rm -f seed-*

# seed NAME FLAGS ARGUMENT QUERY PASSWORD HEADER AUTHORIZATION
seed() {
    name=$1 flags=$2
    shift 2
    { printf "\\$(printf %03o "$flags")"; printf '%s\0%s\0%s\0%s\0%s' "$@"; } > "seed-$name"
}

a63=$(printf '%063d' 0 | tr 0 a)
a254=$(printf '%0254d' 0 | tr 0 a)
a508=$(printf '%0508d' 0 | tr 0 a)

seed page              2  '' ''                                        '' '' ''
seed page-unset        0  '' ''                                        '' '' ''
seed embed             2  '' 'embed=%74%72%75%65%00'                   '' '' ''
seed info              2  '' 'action=info&x=%22%5C%01'                 '' '' ''
seed format-json       2  '' 'format=json'                             '' '' ''
seed echo              2  '' 'action=echo&msg=a+b%21%C3%A9%00c'        '' '' ''
seed echo-bound        2  '' "action=echo&msg=$a508%4"                 '' '' ''
seed unknown           2  '' "action=$a63%41"                          '' '' ''
seed meta              1  '--meta' ''                                  '' '' ''
seed meta-environment  34 '' 'action=info'                             '' '' ''
seed version           1  '--version' ''                               '' '' ''
seed version-short     3  '-v' 'action=info'                           '' '' ''
seed ignored-argument  3  '--metax' 'action=echo&msg=x'                '' '' ''
seed refused           6  '' 'action=info'                             'secret' '' ''
seed header            14 '' 'action=echo&msg=ok'                      'secret' 'secret' ''
seed bearer            22 '' 'action=echo&msg=ok'                      'secret' '' '  Bearer   secret'
seed pwd               6  '' 'action=echo&msg=ok&pwd=se%63ret'         'secret' '' ''
seed pwd-bound         6  '' "pwd=$a254%41"                            "$a254%" '' ''
seed all-wrong         30 '' 'pwd=nope&pwd=secret&action=info'         'secret' 'Secret' 'bearer secret'
