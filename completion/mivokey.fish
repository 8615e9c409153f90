# fish completion for mivokey, the key-binding compiler.

complete -c mivokey -s o -r -F -d 'write the key file to FILE instead of ~/.mivo'
complete -c mivokey -l help -d 'print the usage, the key notation and the action names'
complete -c mivokey -l version -d 'print the version'
