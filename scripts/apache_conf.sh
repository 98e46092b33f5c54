#!/usr/bin/env bash
# Prints a self-contained Apache httpd config (Debian's apache2) that runs the program as CGI
# at /plugin_logs on 127.0.0.1, with no site of the system's own:
#   apache_conf.sh DIR PORT PROGRAM DATA [PASSWORD [USER]]
#   apache2 -f DIR/httpd.conf -DFOREGROUND
# DIR holds the pid file, logs and the CGI daemon's socket. Started as root, the server's
# children run as USER (default www-data), who must be able to run PROGRAM and read DATA.
# Used by scripts/test.d/apache.sh.
set -eu
dir=$1 port=$2 program=$3 data=$4 password=${5-} user=${6:-www-data}
modules=/usr/lib/apache2/modules
# A value in double quotes: Apache reads \" inside them as a quote and keeps other backslashes.
quoted() { printf '"%s"' "${1//\"/\\\"}"; }
cat <<CONF
ServerRoot "$dir"
ServerName 127.0.0.1
Listen 127.0.0.1:$port
PidFile "$dir/httpd.pid"
DefaultRuntimeDir "$dir"
ErrorLog "$dir/error.log"
LogLevel warn
LoadModule mpm_event_module $modules/mod_mpm_event.so
LoadModule authz_core_module $modules/mod_authz_core.so
LoadModule alias_module $modules/mod_alias.so
LoadModule env_module $modules/mod_env.so
LoadModule cgid_module $modules/mod_cgid.so
User $user
Group $user
ScriptSock "$dir/cgid.sock"
DocumentRoot "$dir"

# The program at /plugin_logs. Apache hands the query string over as the browser sent it.
ScriptAlias /plugin_logs "$program"
<Location /plugin_logs>
  # Without this Apache keeps the Authorization header from CGI programs: no bearer token.
  CGIPassAuth On
  SetEnv LOCALAPPDATA $(quoted "$data")
  SetEnv USERPROFILE $(quoted "$dir/noprofile")
  SetEnv ZUN_PASSWORD $(quoted "$password")
  Require all granted
</Location>
CONF
