#!/usr/bin/env bash
# Prints a lighttpd config that runs the program as CGI at /plugin_logs on 127.0.0.1.
#   lighttpd_conf.sh DOCROOT PORT PROGRAM DATA [PASSWORD [BIN]]
# BIN, when given, goes first on the program's PATH (where the event query finds `wevtutil`).
# Used by scripts/run.sh and the browser tests.
set -eu
docroot=$1 port=$2 program=$3 data=$4 password=${5-} bin=${6-}
mkdir -p "$docroot/www"
path=/usr/local/bin:/usr/bin:/bin
[ -z "$bin" ] || path=$bin:$path
# The program must see the raw query string: lighttpd would otherwise decode %41,
# rewrite %zz and refuse %00 before the CGI runs.
cat <<CONF
server.modules = ( "mod_alias", "mod_cgi", "mod_setenv" )
server.bind = "127.0.0.1"
server.port = $port
server.document-root = "$docroot/www"
server.errorlog = "$docroot/error.log"
server.http-parseopts = ( "url-normalize" => "disable" )
alias.url = ( "/plugin_logs" => "$program" )
\$HTTP["url"] =~ "^/plugin_logs\$" {
  cgi.assign = ( "" => "" )
}
setenv.set-environment = ( "LOCALAPPDATA" => "$data", "USERPROFILE" => "$docroot/noprofile", "ZUN_PASSWORD" => "$password", "PATH" => "$path" )
CONF
