#!/bin/sh
# A CGI script: the header lines, an empty line, then the page.
printf 'Content-Type: text/plain\r\n\r\n'
echo "Hello from a CGI script."
echo
echo "REQUEST_METHOD=$REQUEST_METHOD"
echo "QUERY_STRING=$QUERY_STRING"
echo "PATH_INFO=$PATH_INFO"
echo "SCRIPT_NAME=$SCRIPT_NAME"
echo "SERVER_SOFTWARE=$SERVER_SOFTWARE"
