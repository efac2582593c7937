select * from  export
where section=:section